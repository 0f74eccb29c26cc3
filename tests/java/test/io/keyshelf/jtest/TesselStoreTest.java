package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;

import java.io.FileNotFoundException;
import java.io.IOException;
import java.security.UnrecoverableKeyException;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * The key-container store, the PIN and login tickets from Java on a simulated Tessel
 * token: the natives of the JVM's deliverable over a card (or card service) linked to the
 * simulator. The token is found by the applet probe, whatever its ATR says.
 */
@Tag("shelf")
class TesselStoreTest {
    private static final String WRONG = "Wrong pin";
    private static final String BLOCKED = "Pin blocked";
    private static final String REFUSED = "Smart card error with code 0x6900";

    private interface Session {
        void run(SimToken t, long h) throws Exception;
    }

    private static void session(Session body, String... options) throws Exception {
        try (SimToken t = SimToken.start("tessel", options)) {
            KeyShelfPinTest.session(t, h -> body.run(t, h));
        }
    }

    private static void login(SimToken t, long h, String pin) {
        Shelf.Login(t.card, h, pin.toCharArray());
    }

    private static byte[] pattern(int length, int seed) {
        byte[] b = new byte[length];
        for (int i = 0; i < length; i++) b[i] = (byte) (seed * 29 + i * 3);
        return b;
    }

    /** The 16-byte directory name of E00E/0B00/dir as the simulator prints it. */
    private static String nameOf(int dir) {
        return String.format("0E E0 00 0B %02X %02X 00 00 00 00 00 00 00 00 00 00", dir & 0xFF, dir >> 8);
    }

    /** File `file` of the container directory named E00E/0B00/dir on the card: "size access". */
    static String cardFile(SimToken t, int dir, int file) throws Exception {
        boolean inside = false;
        int depth = -1;
        for (String line : t.tree().split("\n")) {
            int d = (line.length() - line.stripLeading().length()) / 2;
            String body = line.strip();
            if (inside && d <= depth) inside = false;
            if (body.contains("/ name " + nameOf(dir) + " ")) {
                inside = true;
                depth = d;
                continue;
            }
            if (inside && d == depth + 1 && body.startsWith(String.format("%04X (", file)))
                return body.substring(5).replace("(", "").replace(")", "").replace(" access ", " ");
        }
        return null;
    }

    @Test
    void containerFilesDirectoriesAndSerial() throws Exception {
        int[][] rows = {  // file, read-protected, initial size, length stored
            {0xF001, 1, 64, 10}, {0xF002, 1, 80, 80}, {0xF003, 0, 2048, 700}, {0xF004, 1, 64, 65},
            {0xF005, 1, 80, 0}, {0xF006, 0, 96, 300}, {0xF007, 0, 8, 8}};
        session((t, h) -> {
            assertEquals("54\\53\\0\\0\\12\\34\\56\\78\\", Shelf.getTokenSerial(t.card, h));
            Shelf.openDir(t.card, h, "a1", true);
            // The files are written under the user PIN (reference 24).
            assertFails(IOException.class, REFUSED, () -> Shelf.storeFile(t.card, h, 0xF003, new byte[4], false));
            login(t, h, "1234");
            for (int[] row : rows) {
                String what = String.format("file %04X", row[0]);
                int size = KeyShelfStoreTest.storeAndReadBack(t.card, h, row[0], pattern(row[3], row[0]), row[2]);
                String access = row[1] == 1 ? "00 24 00 24 00 24 00 24" : "00 00 00 24 00 24 00 24";
                assertEquals(size + " " + access, cardFile(t, 0xA1, row[0]), what + "\n" + t.tree());
            }
            Shelf.openDir(t.card, h, "a2", true);
            Shelf.openDir(t.card, h, "1b", true);
            assertEquals("a1\\a2\\1b", Shelf.getDirList(t.card, h));

            Shelf.openDir(t.card, h, "a1", false);
            Shelf.deleteFile(t.card, h, 0xF002);
            assertNull(cardFile(t, 0xA1, 0xF002));
            assertFails(FileNotFoundException.class, "File not found", () -> Shelf.getFileSize(t.card, h, 0xF002));
            Shelf.closeDir(t.card, h, true);
            assertNull(cardFile(t, 0xA1, 0xF001));
            assertEquals("a2\\1b", Shelf.getDirList(t.card, h));
            // The session goes on after a logout: reading a public file needs no PIN.
            Shelf.Logout(t.card, h);
            Shelf.openDir(t.card, h, "a2", false);
            Shelf.closeDir(t.card, h, false);
        });
    }

    /** An ATR no token model knows: the applet probe finds the token all the same. */
    @Test
    void foundByTheProbeWhateverTheAtr() throws Exception {
        session((t, h) -> {
            assertEquals("54\\53\\0\\0\\12\\34\\56\\78\\", Shelf.getTokenSerial(t.card, h));
            login(t, h, "1234");
            Shelf.openDir(t.card, h, "3", true);
            Shelf.storeFile(t.card, h, 0xF007, new byte[] {7}, false);
        }, "--atr", "3B 80 80 01 01");
    }

    /** The user PIN's reference is the token's login type; new files take it as their access byte. */
    @Test
    void theLoginTypeNamesTheUserPin() throws Exception {
        session((t, h) -> {
            login(t, h, "1234");
            Shelf.openDir(t.card, h, "4", true);
            Shelf.storeFile(t.card, h, 0xF001, new byte[] {1}, false);
            assertEquals("64 00 20 00 20 00 20 00 20", cardFile(t, 4, 0xF001));
            Shelf.Login(t.card, h, TesselTicket.build(0x20, "1234"));
        }, "--login-type", "20");
    }

    @Test
    void loginLogoutAndChangeUnderSecureMessaging() throws Exception {
        session((t, h) -> {
            assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "4321"));
            login(t, h, "1234");
            Shelf.Logout(t.card, h);
            Shelf.Logout(t.card, h);
            assertFails(UnrecoverableKeyException.class, WRONG,
                    () -> Shelf.changePin(t.card, h, "0000".toCharArray(), "5678".toCharArray()));
            Shelf.changePin(t.card, h, "1234".toCharArray(), "5678".toCharArray());
            // A new PIN beyond 7-bit text is refused before anything is sent.
            assertFails(UnrecoverableKeyException.class, WRONG,
                    () -> Shelf.changePin(t.card, h, "5678".toCharArray(), "p\u00e4ss".toCharArray()));
            Shelf.Logout(t.card, h);
            assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "1234"));
            login(t, h, "5678");
            Shelf.openDir(t.card, h, "7", true);
            Shelf.storeFile(t.card, h, 0xF007, new byte[] {1, 2, 3}, false);
        });
    }

    @Test
    void wrongPinsCountDownThenThePinIsBlocked() throws Exception {
        session((t, h) -> {
            assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "1111"));
            assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "2222"));
            assertFails(UnrecoverableKeyException.class, BLOCKED, () -> login(t, h, "3333"));
            assertFails(UnrecoverableKeyException.class, BLOCKED, () -> login(t, h, "1234"));
        }, "--pin-tries", "3", "--pin", "1234");
    }

    /** Tickets built here log in: 20 by PIN, 23 by the ticket key, 24 and 25 by both. */
    @ParameterizedTest(name = "type {0}")
    @CsvSource({"32, 1234", "35, ''", "36, 1234", "37, 1234", "36, ''"})
    void ticketsLogIn(int type, String pin) throws Exception {
        session((t, h) -> {
            Shelf.openDir(t.card, h, "5", true);
            Shelf.Login(t.card, h, TesselTicket.build(type, pin));
            Shelf.storeFile(t.card, h, 0xF001, pattern(20, type), false);
            assertNotNull(cardFile(t, 5, 0xF001));
        });
    }

    @Test
    void ticketsWithAWrongPartAreRefused() throws Exception {
        session((t, h) -> {
            assertFails(UnrecoverableKeyException.class, WRONG, () -> Shelf.Login(t.card, h, TesselTicket.build(0x20, "9999")));
            byte[] otherKey = TesselTicket.KEY.clone();
            otherKey[0] ^= 0x10;  // not the parity bit, which DES ignores
            assertFails(IOException.class, REFUSED,
                    () -> Shelf.Login(t.card, h, TesselTicket.build(0x23, TesselTicket.KEY_ID, otherKey, "")));
            // A ticket that asks for no step proves nothing.
            assertFails(UnrecoverableKeyException.class, WRONG, () -> Shelf.Login(t.card, h, TesselTicket.build(0x21, "1234")));
            // A text whose check value does not match is a PIN like any other.
            char[] forged = TesselTicket.build(0x20, "1234");
            forged[10] = forged[10] == 'A' ? 'B' : 'A';
            assertFails(UnrecoverableKeyException.class, WRONG, () -> Shelf.Login(t.card, h, forged));
            Shelf.openDir(t.card, h, "5", true);
            assertFails(IOException.class, REFUSED, () -> Shelf.storeFile(t.card, h, 0xF001, new byte[4], false));
        });
    }
}
