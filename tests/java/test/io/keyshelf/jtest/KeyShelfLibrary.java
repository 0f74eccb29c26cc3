package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrowsExactly;

import org.junit.jupiter.api.function.Executable;

/** Loads the JVM's deliverable by the path the harness gives, once per JVM; and the exception checks. */
final class KeyShelfLibrary {
    static final String PROPERTY = Deliverable.KEYSHELFJX.libraryProperty;
    private static boolean loaded;

    private KeyShelfLibrary() {}

    static synchronized void load() {
        if (loaded) return;
        String property = Deliverable.current().libraryProperty;
        String path = System.getProperty(property, "");
        if (path.isEmpty()) throw new IllegalStateException("system property " + property + " is not set");
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

    /** Asserts the exception of a failure that is not a card error, as the JVM's deliverable throws it. */
    static void assertUnknownError(String what, Executable call) {
        assertFails(what, Deliverable.current().unknownError(), "Unknown error", call);
    }
}
