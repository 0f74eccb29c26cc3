package io.keyshelf.jtest;

/**
 * The deliverable a test JVM loads, chosen by {@code -Dkeyshelf.deliverable}
 * (KeyShelfJx, the default, or KeyShelf), and what tests expect where the two
 * differ. A JVM loads only the one it was started for.
 */
enum Deliverable {
    /** javax.smartcardio: the natives take a Card. */
    KEYSHELFJX("keyshelf.keyshelfJxLibrary", "java.io.IOException", "java.io.IOException",
            "Smart card error with code 0xffff", "Smart card error with code 0xffff", false),
    /** The OpenCard Framework: the natives take a card service. */
    KEYSHELF("keyshelf.keyshelfLibrary", "opencard.core.service.CardServiceException", "java.io.FileNotFoundException",
            "Not enough storage space", "Smart card error with code 0x6b00", true);

    static final String PROPERTY = "keyshelf.deliverable";

    /** The system property that names the library's path. */
    final String libraryProperty;
    private final String unknownErrorClass;
    private final String noAppletClass;
    /** The message of a token on which no applet answers. */
    final String noAppletMessage;
    /** The message of a failed transport (a send that failed, a card object that cannot send). */
    final String transportFailure;
    /** A failed GET DATA 9F7F of the card-manager check refuses a Java token. */
    final boolean refusesWhenGetDataFails;

    Deliverable(String libraryProperty, String unknownErrorClass, String noAppletClass, String noAppletMessage,
            String transportFailure, boolean refusesWhenGetDataFails) {
        this.libraryProperty = libraryProperty;
        this.unknownErrorClass = unknownErrorClass;
        this.noAppletClass = noAppletClass;
        this.noAppletMessage = noAppletMessage;
        this.transportFailure = transportFailure;
        this.refusesWhenGetDataFails = refusesWhenGetDataFails;
    }

    static Deliverable current() {
        String name = System.getProperty(PROPERTY, "KeyShelfJx");
        for (Deliverable d : values())
            if (d.libraryName().equals(name)) return d;
        throw new IllegalStateException(PROPERTY + " names no deliverable: " + name);
    }

    /** KeyShelfJx or KeyShelf. */
    String libraryName() {
        return this == KEYSHELFJX ? "KeyShelfJx" : "KeyShelf";
    }

    /** The exception of every failure that is not a card error ("Unknown error"). */
    Class<? extends Throwable> unknownError() {
        return load(unknownErrorClass);
    }

    Class<? extends Throwable> noApplet() {
        return load(noAppletClass);
    }

    private static Class<? extends Throwable> load(String name) {
        try {
            return Class.forName(name).asSubclass(Throwable.class);
        } catch (ClassNotFoundException e) {
            throw new IllegalStateException(name + " is not on the class path", e);
        }
    }
}
