package io.keyshelf.corvid.zudezozud.zid;

/**
 * The Java face of libKeyShelf: the key store over the OpenCard Framework. Every
 * method is implemented natively and takes first the card service of the current
 * call (an object whose class offers getCardChannel, allocateCardChannel,
 * releaseCardChannel and getCard). It is typed Object so that this class needs no
 * framework to compile; the native side keeps no Java object between calls.
 *
 * <p>The library is loaded here only when the system property
 * {@code keyshelf.loadLibrary} is "true" (then by {@code System.loadLibrary}, from
 * {@code java.library.path}); otherwise the caller loads it, for example by
 * {@code System.load} with a full path, before the first call.
 */
public final class KeyShelf {
    public static final String LOAD_PROPERTY = "keyshelf.loadLibrary";

    static {
        if (Boolean.getBoolean(LOAD_PROPERTY)) {
            System.loadLibrary("KeyShelf");
        }
    }

    private KeyShelf() {}

    public static native long createToken(Object service);

    public static native void destroyToken(Object service, long handle);

    public static native void Login(Object service, long handle, char[] pin);

    public static native void Logout(Object service, long handle);

    public static native String getTokenSerial(Object service, long handle);

    public static native String getDirList(Object service, long handle);

    public static native void openDir(Object service, long handle, String name, boolean create);

    public static native void closeDir(Object service, long handle, boolean remove);

    public static native void deleteFile(Object service, long handle, int fileId);

    public static native void storeFile(Object service, long handle, int fileId, byte[] data, boolean flag);

    public static native int getFileSize(Object service, long handle, int fileId);

    public static native void readFile(Object service, long handle, int fileId, int length, byte[] out);

    public static native void changePin(Object service, long handle, char[] oldPin, char[] newPin);
}
