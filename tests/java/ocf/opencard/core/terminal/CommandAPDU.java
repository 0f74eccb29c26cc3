package opencard.core.terminal;

/** Test stand-in: a command APDU made of the bytes given, kept as they are. */
public class CommandAPDU {
    private final byte[] bytes;

    public CommandAPDU(byte[] bytes) {
        this.bytes = bytes.clone();
    }

    /** The command's bytes (what a card service's channel hands to its reader). */
    public byte[] getBytes() {
        return bytes.clone();
    }
}
