package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static io.keyshelf.jtest.KeyShelfPinTest.login;
import static io.keyshelf.jtest.KeyShelfPinTest.session;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;

import java.io.FileNotFoundException;
import java.io.IOException;
import java.security.UnrecoverableKeyException;
import java.util.Arrays;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * The key store, login, logout and PIN change from Java on the simulated Kite
 * tokens of every model, with and without FIPS mode. The Kite applet is known by
 * its ATR alone; the card enforces the user PIN's access bytes on the container
 * files, so nothing is written or read there without a login.
 */
@Tag("shelf")
class KiteStoreTest {
    private static final String WRONG = "Wrong pin";
    private static final String BLOCKED = "Pin blocked";
    private static final String REFUSED = "Smart card error with code 0x6900";

    private static SimToken start(String kind, boolean fips, String... more) throws Exception {
        String[] options = Arrays.copyOf(more, more.length + (fips ? 1 : 0));
        if (fips) options[more.length] = "--fips";
        return SimToken.start(kind, options);
    }

    private static byte[] pattern(int length, int seed) {
        byte[] b = new byte[length];
        for (int i = 0; i < length; i++) b[i] = (byte) (seed * 17 + i * 3);
        return b;
    }

    @ParameterizedTest(name = "{0}, fips {1}")
    @CsvSource({"kite16, false", "kite32, false", "kite42, false", "kite42b, false", "kite42, true", "kite42b, true"})
    void theWholeStore(String kind, boolean fips) throws Exception {
        int[][] rows = {  // file, read-protected, initial size, length stored
            {0xF001, 1, 64, 10}, {0xF002, 1, 80, 80}, {0xF003, 0, 2048, 700}, {0xF004, 1, 64, 65},
            {0xF005, 1, 80, 0}, {0xF006, 0, 96, 300}, {0xF007, 0, 8, 8}};
        String[] home = fips ? new String[] {"3F00/", "6666/", "5000/"} : new String[] {"3F00/", "6666/"};
        String user = fips ? "11" : "01";
        try (SimToken t = start(kind, fips, "--serial", "00112233445566778899A1B2C3D4E5F6")) {
            session(t, h -> {
                assertEquals("a1\\b2\\c3\\d4\\e5\\f6\\", Shelf.getTokenSerial(t.card, h));
                assertFails(FileNotFoundException.class, "File not found", () -> Shelf.getDirList(t.card, h));
                Shelf.openDir(t.card, h, "3", true);
                // The container files are the user's: not even created and written without a login.
                assertFails(IOException.class, REFUSED, () -> Shelf.storeFile(t.card, h, 0xF001, new byte[4], false));

                login(t, h, "1234");
                Shelf.openDir(t.card, h, "3", true);
                for (int[] row : rows) {
                    int size = KeyShelfStoreTest.storeAndReadBack(t.card, h, row[0], pattern(row[3], row[0]), row[2]);
                    String what = String.format("file %04X", row[0]);
                    SimToken.CardFile f = t.storeFileUnder(home, 3, row[0]);
                    assertNotNull(f, what + " is not on the card:\n" + t.tree());
                    assertEquals(size, f.size(), what);
                    assertEquals((row[1] == 1 ? user : "00") + user.repeat(6), f.access(), what);
                }
                Shelf.openDir(t.card, h, "4", true);
                assertEquals("3\\4", Shelf.getDirList(t.card, h));
                Shelf.closeDir(t.card, h, true);
                assertEquals("3", Shelf.getDirList(t.card, h));

                Shelf.openDir(t.card, h, "3", false);
                Shelf.deleteFile(t.card, h, 0xF006);
                assertNull(t.storeFileUnder(home, 3, 0xF006));
                assertFails(FileNotFoundException.class, "File not found", () -> Shelf.getFileSize(t.card, h, 0xF006));

                // After a logout the protected files are closed again, reading too.
                Shelf.Logout(t.card, h);
                assertFails(IOException.class, REFUSED, () -> Shelf.storeFile(t.card, h, 0xF003, new byte[4], false));
                assertFails(IOException.class, REFUSED,
                        () -> Shelf.readFile(t.card, h, 0xF001, 4, new byte[4]));
            });
        }
    }

    @ParameterizedTest(name = "{0}, fips {1}")
    @CsvSource({"kite16, false", "kite32, false", "kite42, false", "kite42b, false", "kite42, true", "kite42b, true"})
    void loginLogoutAndChangePin(String kind, boolean fips) throws Exception {
        try (SimToken t = start(kind, fips)) {
            KeyShelfPinTest.changeAndBack(t, h -> {
                assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "4321"));
                login(t, h, "1234");
                Shelf.Logout(t.card, h);
                // Logged out: the old PIN of a change is checked all the same.
                assertFails(UnrecoverableKeyException.class, WRONG,
                        () -> Shelf.changePin(t.card, h, "1235".toCharArray(), "5678".toCharArray()));
            });
        }
    }

    @ParameterizedTest(name = "{0}, fips {1}")
    @CsvSource({"kite16, false", "kite42b, false", "kite42, true"})
    void aSpentLimitBlocksThePin(String kind, boolean fips) throws Exception {
        try (SimToken t = start(kind, fips, "--pin-tries", "3")) {
            session(t, h -> {
                for (int i = 0; i < 2; i++) assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "0000"));
                login(t, h, "1234");
                for (int i = 0; i < 3; i++) assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "0000"));
                assertFails(UnrecoverableKeyException.class, BLOCKED, () -> login(t, h, "1234"));
                assertFails(UnrecoverableKeyException.class, BLOCKED,
                        () -> Shelf.changePin(t.card, h, "1234".toCharArray(), "5678".toCharArray()));
            });
            session(t, h -> assertFails(UnrecoverableKeyException.class, BLOCKED, () -> login(t, h, "1234")));
        }
    }
}
