package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertThrows;

import io.keyshelf.corvid.zudezozud.zid.KeyShelf;
import java.io.IOException;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * libKeyShelf for a caller whose class path offers a CardServiceException that
 * takes no message (run in a JVM of its own with that class alone): the failure is
 * reported as an IOException with the message, not as the NoSuchMethodError that
 * throwing the class would leave.
 */
@Tag("noframework")
class UnthrowableFrameworkTest {
    @Test
    void unknownErrorsBecomeIOExceptions() throws Exception {
        Class<?> framework = Class.forName("opencard.core.service.CardServiceException");
        assertThrows(NoSuchMethodException.class, () -> framework.getConstructor(String.class),
                "this JVM must run with the exception class that takes no message");
        KeyShelfLibrary.load();
        assertFails("null service", IOException.class, "Unknown error", () -> KeyShelf.createToken(null));
        assertFails("unknown handle", IOException.class, "Unknown error", () -> KeyShelf.getDirList(new Object(), 12345L));
    }
}
