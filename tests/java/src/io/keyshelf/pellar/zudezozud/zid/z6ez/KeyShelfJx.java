package io.keyshelf.pellar.zudezozud.zid.z6ez;

import javax.smartcardio.Card;

/**
 * The Java face of libKeyShelfJx: every method is implemented natively and takes
 * the card of the current call first, because the native side keeps no Java
 * object between calls.
 *
 * <p>The library is loaded here only when the system property
 * {@code keyshelf.loadLibrary} is "true" (then by {@code System.loadLibrary}, from
 * {@code java.library.path}); otherwise the caller loads it, for example by
 * {@code System.load} with a full path, before the first call.
 */
public final class KeyShelfJx {
    public static final String LOAD_PROPERTY = "keyshelf.loadLibrary";

    static {
        if (Boolean.getBoolean(LOAD_PROPERTY)) {
            System.loadLibrary("KeyShelfJx");
        }
    }

    private KeyShelfJx() {}

    public static native long createToken(Card card);

    public static native void destroyToken(Card card, long handle);

    public static native void Login(Card card, long handle, char[] pin);

    public static native void Logout(Card card, long handle);

    public static native String getTokenSerial(Card card, long handle);

    public static native String getDirList(Card card, long handle);

    public static native void openDir(Card card, long handle, String name, boolean create);

    public static native void closeDir(Card card, long handle, boolean remove);

    public static native void deleteFile(Card card, long handle, int fileId);

    public static native void storeFile(Card card, long handle, int fileId, byte[] data, boolean flag);

    public static native int getFileSize(Card card, long handle, int fileId);

    public static native void readFile(Card card, long handle, int fileId, int length, byte[] out);

    public static native void changePin(Card card, long handle, char[] oldPin, char[] newPin);
}
