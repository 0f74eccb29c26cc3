package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Arrays;
import javax.smartcardio.ATR;
import javax.smartcardio.Card;
import javax.smartcardio.CardException;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * A card whose transmit calls the library again from the same thread, on the token
 * whose call it is serving: the nested call is refused with "Unknown error" and sends
 * nothing, and the outer call ends as if it had never been made (its bytes in the file
 * it named, its session not logged out).
 */
@Tag("shelf")
class ReentrantCallTest {
    private static final char[] PIN = "1234".toCharArray();
    private static final byte[] HEADER = filled(300, 0x33);
    private static final byte[] NAME = filled(20, 0x66);

    private static byte[] filled(int n, int value) {
        byte[] b = new byte[n];
        Arrays.fill(b, (byte) value);
        return b;
    }

    interface Nested {
        void call(Card card, long h) throws Exception;
    }

    /** Calls back once, at the first command whose instruction matches (any when -1). */
    static final class CallingBackCard extends BasicChannelCard {
        private final Card inner;
        private final int ins;
        private Nested nested;
        long handle;
        Throwable nestedFailure;
        boolean fired;

        CallingBackCard(Card inner, int ins, Nested nested) {
            this.inner = inner;
            this.ins = ins;
            this.nested = nested;
        }

        @Override
        public ATR getATR() {
            return inner.getATR();
        }

        @Override
        protected ResponseAPDU transmit(CommandAPDU command) throws CardException {
            if (nested != null && (ins < 0 || command.getINS() == ins)) {
                Nested n = nested;
                nested = null;
                fired = true;
                try {
                    n.call(this, handle);
                } catch (Throwable t) {
                    nestedFailure = t;
                }
            }
            return inner.getBasicChannel().transmit(command);
        }
    }

    private static void prepare(Card card, long h) {
        Shelf.Login(card, h, PIN);
        Shelf.openDir(card, h, "2b", true);
        Shelf.storeFile(card, h, 0xF006, NAME, false);
    }

    private static byte[] read(Card card, long h, int file) {
        byte[] back = new byte[Shelf.getFileSize(card, h, file)];
        Shelf.readFile(card, h, file, back.length, back);
        return back;
    }

    /** At the first command of the store (-1), or at its first write (21, the Java applet's 15). */
    @ParameterizedTest(name = "{0} at instruction {1}")
    @CsvSource({"getFileSize, -1", "getFileSize, 21", "readFile, -1", "readFile, 21", "Logout, -1", "Logout, 21",
        "LoginWithoutPin, 21"})
    void aNestedCallIsRefusedAndTheOuterStoreLandsWhereItAsked(String call, int ins) throws Exception {
        Nested nested = switch (call) {
            case "getFileSize" -> (c, h) -> Shelf.getFileSize(c, h, 0xF006);
            case "readFile" -> (c, h) -> Shelf.readFile(c, h, 0xF006, NAME.length, new byte[NAME.length]);
            // Refused before its arguments are read: not "Pin missing".
            case "LoginWithoutPin" -> (c, h) -> Shelf.Login(c, h, null);
            default -> (c, h) -> Shelf.Logout(c, h);
        };
        String wantTree;
        byte[] wantHeader, wantName;
        try (SimToken plain = SimToken.start("java")) {
            long h = Shelf.createToken(plain.card);
            prepare(plain.card, h);
            Shelf.storeFile(plain.card, h, 0xF003, HEADER, false);
            wantHeader = read(plain.card, h, 0xF003);
            wantName = read(plain.card, h, 0xF006);
            wantTree = plain.tree();
            Shelf.destroyToken(plain.card, h);
        }
        try (SimToken t = SimToken.start("java")) {
            long h = Shelf.createToken(t.card);
            prepare(t.card, h);
            CallingBackCard card = new CallingBackCard(t.card, ins, nested);
            card.handle = h;
            Shelf.bind(card, new OcfService(OcfService.card(card)));
            try {
                long before = t.commands();
                Shelf.storeFile(card, h, 0xF003, HEADER, false);
                assertTrue(card.fired);
                assertNotNull(card.nestedFailure, "the nested call was served");
                assertEquals(Deliverable.current().unknownError(), card.nestedFailure.getClass());
                assertEquals("Unknown error", card.nestedFailure.getMessage());
                assertTrue(t.commands() > before);
                // Still logged in: the protected store goes on without a new login.
                Shelf.storeFile(t.card, h, 0xF001, filled(8, 0x11), false);
                Shelf.deleteFile(t.card, h, 0xF001);
                assertArrayEquals(wantHeader, read(t.card, h, 0xF003));
                assertArrayEquals(wantName, read(t.card, h, 0xF006));
                assertEquals(wantTree, t.tree());
            } finally {
                Shelf.unbind(card);
                Shelf.destroyToken(t.card, h);
            }
        }
    }
}
