package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import io.keyshelf.corvid.zudezozud.zid.KeyShelf;
import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.io.IOException;
import opencard.core.service.CardServiceException;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * Both deliverables loaded in one JVM, as a key store that offers both roads: each
 * keeps its own tokens, module and transport, and neither reaches the other's.
 */
@Tag("both")
class BothDeliverablesTest {
    private static final String UNKNOWN = "Unknown error";

    private static void loadBoth() {
        KeyShelfLibrary.load();  // this JVM's deliverable, libKeyShelfJx
        System.load(System.getProperty(Deliverable.KEYSHELF.libraryProperty));
    }

    @Test
    void eachLibraryKeepsItsOwnTokensModuleAndTransport() throws Exception {
        loadBoth();
        try (SimToken a = SimToken.start("java", "--serial", "0A"); SimToken b = SimToken.start("heron", "--serial", "0B")) {
            long jx = KeyShelfJx.createToken(a.card);
            long ocf = KeyShelf.createToken(b.service);
            assertNotEquals(jx, ocf);
            long aBefore = a.commands(), bBefore = b.commands();
            int serviceBefore = b.service.commands.get();

            // Each handle is unknown to the other library, which reports it its own way.
            assertFails("jx handle in libKeyShelf", CardServiceException.class, UNKNOWN,
                    () -> KeyShelf.getTokenSerial(b.service, jx));
            assertFails("libKeyShelf handle in jx", IOException.class, UNKNOWN, () -> KeyShelfJx.getTokenSerial(a.card, ocf));
            assertFails("null in libKeyShelf", CardServiceException.class, UNKNOWN, () -> KeyShelf.createToken(null));
            assertFails("null in jx", IOException.class, UNKNOWN, () -> KeyShelfJx.createToken(null));
            assertEquals(aBefore, a.commands());
            assertEquals(bBefore, b.commands());

            // Each token's traffic goes through its own library's transport only.
            assertEquals("a\\", KeyShelfJx.getTokenSerial(a.card, jx));
            assertEquals(bBefore, b.commands());
            assertEquals("b\\", KeyShelf.getTokenSerial(b.service, ocf));
            assertEquals(serviceBefore + (b.commands() - bBefore), b.service.commands.get());

            // The last libKeyShelfJx token releases that library's module; libKeyShelf's
            // token lives on in its own, and a new jx token starts a fresh module.
            KeyShelfJx.destroyToken(a.card, jx);
            assertFails("destroyed", IOException.class, UNKNOWN, () -> KeyShelfJx.getTokenSerial(a.card, jx));
            assertEquals("b\\", KeyShelf.getTokenSerial(b.service, ocf));
            long again = KeyShelfJx.createToken(a.card);
            assertNotEquals(jx, again);
            KeyShelf.openDir(b.service, ocf, "3", true);
            assertEquals("3", KeyShelf.getDirList(b.service, ocf));
            KeyShelfJx.destroyToken(a.card, again);
            KeyShelf.destroyToken(b.service, ocf);
        }
    }
}
