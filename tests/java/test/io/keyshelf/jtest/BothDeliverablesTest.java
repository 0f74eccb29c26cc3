package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import io.keyshelf.corvid.zudezozud.zid.KeyShelf;
import io.keyshelf.jtest.ReentrantCallTest.CallingBackCard;
import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.io.IOException;
import java.util.concurrent.atomic.AtomicReference;
import javax.smartcardio.Card;
import opencard.core.service.CardServiceException;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * Both deliverables loaded in one JVM, as a key store that offers both roads: each
 * keeps its own tokens, module and transport, and neither reaches the other's; a card
 * that calls the other library from its transmit is served.
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

    /** The natives of one library, over a javax.smartcardio card (libKeyShelfJx) or a card service (libKeyShelf). */
    enum Library {
        KEYSHELFJX {
            @Override
            Object of(SimToken t) {
                return t.card;
            }

            @Override
            Object over(Card card) {
                return card;
            }

            @Override
            long createToken(Object c) {
                return KeyShelfJx.createToken((Card) c);
            }

            @Override
            String getTokenSerial(Object c, long h) {
                return KeyShelfJx.getTokenSerial((Card) c, h);
            }

            @Override
            void destroyToken(Object c, long h) {
                KeyShelfJx.destroyToken((Card) c, h);
            }
        },
        KEYSHELF {
            @Override
            Object of(SimToken t) {
                return t.service;
            }

            @Override
            Object over(Card card) {
                return new OcfService(OcfService.card(card));
            }

            @Override
            long createToken(Object c) {
                return KeyShelf.createToken(c);
            }

            @Override
            String getTokenSerial(Object c, long h) {
                return KeyShelf.getTokenSerial(c, h);
            }

            @Override
            void destroyToken(Object c, long h) {
                KeyShelf.destroyToken(c, h);
            }
        };

        /** What this library's natives take for the simulated token. */
        abstract Object of(SimToken t);

        /** What they take for a card of the test's own (libKeyShelf: a service over it). */
        abstract Object over(Card card);

        abstract long createToken(Object c);

        abstract String getTokenSerial(Object c, long h);

        abstract void destroyToken(Object c, long h);

        Library other() {
            return this == KEYSHELFJX ? KEYSHELF : KEYSHELFJX;
        }
    }

    /**
     * A card whose transmit, at the first command of a call of one library, calls the
     * other library on a token of its own gets that call served (the right serial, its
     * commands sent to its token), and the outer call completes as it would have: within
     * createToken (that library's module lock held) and within a call on a token (its
     * lock held).
     */
    @ParameterizedTest(name = "a card under {0} calls the other library within {1}")
    @CsvSource({"KEYSHELFJX, createToken", "KEYSHELFJX, getTokenSerial", "KEYSHELF, createToken",
        "KEYSHELF, getTokenSerial"})
    void aCardThatCallsTheOtherLibraryIsServed(Library outer, String call) throws Exception {
        loadBoth();
        Library inner = outer.other();
        try (SimToken a = SimToken.start("java", "--serial", "0A"); SimToken b = SimToken.start("heron", "--serial", "0B")) {
            long other = inner.createToken(inner.of(b));
            AtomicReference<String> served = new AtomicReference<>();
            long[] bDuring = new long[2];
            CallingBackCard card = new CallingBackCard(a.card, -1, (c, h) -> {
                bDuring[0] = b.commands();
                served.set(inner.getTokenSerial(inner.of(b), other));
                bDuring[1] = b.commands();
            });
            Object target = outer.over(card);
            long h = 0;
            try {
                String serial;
                if (call.equals("createToken")) {
                    h = outer.createToken(target);
                    serial = outer.getTokenSerial(outer.of(a), h);
                } else {
                    h = outer.createToken(outer.of(a));
                    serial = outer.getTokenSerial(target, h);
                }
                assertTrue(card.fired, "the card never called back");
                assertNull(card.nestedFailure, () -> "the nested call failed: " + card.nestedFailure);
                assertEquals("b\\", served.get());
                assertTrue(bDuring[1] > bDuring[0], "the nested call sent nothing to its token");
                assertEquals("a\\", serial);
                // The other library's token goes on as before.
                assertEquals("b\\", inner.getTokenSerial(inner.of(b), other));
            } finally {
                if (h != 0) outer.destroyToken(outer.of(a), h);
                inner.destroyToken(inner.of(b), other);
            }
        }
    }
}
