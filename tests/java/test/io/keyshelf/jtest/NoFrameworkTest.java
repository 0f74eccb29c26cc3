package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertThrows;

import io.keyshelf.corvid.zudezozud.zid.KeyShelf;
import java.io.IOException;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * libKeyShelf for a caller whose class path lacks the framework (run in a JVM of
 * its own without the stand-ins): a failure that would be a CardServiceException
 * is reported as an IOException with the same message, never thrown with a null class.
 */
@Tag("noframework")
class NoFrameworkTest {
    @Test
    void unknownErrorsBecomeIOExceptions() {
        assertThrows(ClassNotFoundException.class, () -> Class.forName("opencard.core.service.CardServiceException"),
                "this JVM must run without the framework");
        KeyShelfLibrary.load();
        assertFails("null service", IOException.class, "Unknown error", () -> KeyShelf.createToken(null));
        assertFails("unknown handle", IOException.class, "Unknown error", () -> KeyShelf.getDirList(new Object(), 12345L));
        // An object that is no card service: the transport cannot be built.
        assertFails("no service", IOException.class, "Smart card error with code 0x6b00",
                () -> KeyShelf.createToken(new Object()));
    }
}
