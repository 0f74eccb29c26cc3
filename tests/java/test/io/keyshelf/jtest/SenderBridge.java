package io.keyshelf.jtest;

import javax.smartcardio.Card;

/** Test-only natives around the javax.smartcardio transport (tests/java/native). */
final class SenderBridge {
    static final String LIBRARY_PROPERTY = "keyshelf.jtestLibrary";

    static {
        String path = System.getProperty(LIBRARY_PROPERTY);
        if (path == null || path.isEmpty()) {
            throw new IllegalStateException("system property " + LIBRARY_PROPERTY + " must name the test JNI library");
        }
        System.load(path);
    }

    private SenderBridge() {}

    /** Builds a transport over the card; refused cards raise IllegalStateException("transport raised 0x..."). */
    static native long open(Card card);

    static native void close(long handle);

    /** Refreshes the transport with this card, sends one command, returns the response buffer. */
    static native byte[] send(long handle, Card card, byte[] command);

    /** {@code count} sends (each followed by an ATR read) in one native call; returns the last response. */
    static native byte[] sendRepeatedly(long handle, Card card, byte[] command, int count);

    static native byte[] atr(long handle, Card card);

    /** Throws IllegalStateException("pending from the caller"), then sends and reads the ATR under it. */
    static native int sendUnderPendingException(long handle, Card card, byte[] command);

    /** Selects the applet identifier, runs a control call, returns the stored identifier (-1 if control touched its output). */
    static native int appletAfterSelect(long handle, int id);

    /** Builds an OpenCard Framework transport over the service; refused ones raise IllegalStateException. */
    static native long openOcf(Object service);

    static native void closeOcf(long handle);

    /** Refreshes the transport with this service, sends one command, returns the response buffer. */
    static native byte[] sendOcf(long handle, Object service, byte[] command);

    static native byte[] atrOcf(long handle, Object service);

    /** As appletAfterSelect, on the OpenCard Framework transport. */
    static native int appletAfterSelectOcf(long handle, int id);
}
