package opencard.core.terminal;

/** Test stand-in: a response APDU whose buffer is the answer's data followed by SW1 SW2. */
public class ResponseAPDU {
    private final byte[] buffer;

    public ResponseAPDU(byte[] buffer) {
        this.buffer = buffer;
    }

    public byte[] getBuffer() {
        return buffer;
    }
}
