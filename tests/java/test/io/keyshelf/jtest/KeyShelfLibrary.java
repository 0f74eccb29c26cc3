package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrowsExactly;

import org.junit.jupiter.api.function.Executable;

/** Loads libKeyShelfJx by the path the harness gives, once per JVM; and the exception checks. */
final class KeyShelfLibrary {
    static final String PROPERTY = "keyshelf.keyshelfJxLibrary";
    private static boolean loaded;

    private KeyShelfLibrary() {}

    static synchronized void load() {
        if (loaded) return;
        String path = System.getProperty(PROPERTY, "");
        if (path.isEmpty()) throw new IllegalStateException("system property " + PROPERTY + " is not set");
        System.load(path);
        loaded = true;
    }

    /** Asserts the exact exception class (a FileNotFoundException is an IOException too) and message. */
    static void assertFails(Class<? extends Throwable> type, String message, Executable call) {
        assertFails("", type, message, call);
    }

    static void assertFails(String what, Class<? extends Throwable> type, String message, Executable call) {
        Throwable t = assertThrowsExactly(type, call, what);
        assertEquals(message, t.getMessage(), what);
    }
}
