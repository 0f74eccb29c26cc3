package opencard.core.terminal;

/**
 * Test stand-in: a command APDU over the array given, which it keeps (as the
 * framework's does) rather than a copy.
 */
public class CommandAPDU {
    private final byte[] buffer;

    public CommandAPDU(byte[] buffer) {
        this.buffer = buffer;
    }

    /** The array the command was made with, itself. */
    public byte[] getBuffer() {
        return buffer;
    }

    /** The command's bytes (what a card service's channel hands to its reader). */
    public byte[] getBytes() {
        return buffer.clone();
    }
}
