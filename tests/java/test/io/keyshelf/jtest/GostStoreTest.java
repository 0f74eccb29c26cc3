package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static io.keyshelf.jtest.KeyShelfPinTest.session;
import static io.keyshelf.jtest.KeyShelfStoreTest.read;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.FileNotFoundException;
import java.io.IOException;
import java.security.UnrecoverableKeyException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * The key-container store, the serial and the PIN from Java on the simulated Gost
 * token (an object store) and Gost2 tokens (a file tree) of information-record
 * versions 6 and 7, each found by the applet probe behind an ATR of no Kite or
 * Wren model.
 */
@Tag("shelf")
class GostStoreTest {
    private static final String NO_ROOM = "Not enough storage space";

    /** A kind of token as the simulator starts it, and what tells it apart. */
    private record Kind(String card, String[] options, String pin, int largest) {
        static Kind of(String name) {
            switch (name) {
                case "gost":
                    return new Kind("gost", new String[0], "123456", 16384);
                case "gost2-v6":
                    return new Kind("gost2", new String[] {"--gost2-version", "6"}, "12345678", 32746);
                case "gost2-v7":
                    return new Kind("gost2", new String[] {"--gost2-version", "7"}, "12345678", 32746);
                default:
                    throw new IllegalArgumentException(name);
            }
        }

        SimToken start(String... more) throws Exception {
            List<String> o = new ArrayList<>(Arrays.asList(options));
            o.addAll(Arrays.asList(more));
            return SimToken.start(card, o.toArray(new String[0]));
        }
    }

    static byte[] pattern(int length, int seed) {
        byte[] b = new byte[length];
        for (int i = 0; i < length; i++) b[i] = (byte) (seed * 31 + i * 7 + (i >> 8));
        return b;
    }

    @ParameterizedTest
    @ValueSource(strings = {"gost", "gost2-v6", "gost2-v7"})
    void serialDirectoriesAndTheSevenContainerFiles(String name) throws Exception {
        Kind k = Kind.of(name);
        int[][] rows = {  // file, initial size, length stored
            {0xF001, 64, 10}, {0xF002, 80, 80}, {0xF003, 2048, 100}, {0xF004, 64, 65},
            {0xF005, 80, 0}, {0xF006, 96, 300}, {0xF007, 8, 8}};
        try (SimToken t = k.start("--serial", "0A001B0000000001")) {
            session(t, h -> {
                assertEquals("a\\0\\1b\\0\\0\\0\\0\\1\\", Shelf.getTokenSerial(t.card, h));
                Shelf.Login(t.card, h, k.pin.toCharArray());
                Shelf.openDir(t.card, h, "1a", true);
                Shelf.openDir(t.card, h, "2", true);
                for (int[] row : rows) KeyShelfStoreTest.storeAndReadBack(t.card, h, row[0], pattern(row[2], row[0]), row[1]);
                assertEquals("1a\\2", Shelf.getDirList(t.card, h));
                // The protected four are guarded on the card itself.
                String tree = t.tree();
                if (k.card.equals("gost")) {
                    assertEquals(4, tree.split(" private\n", -1).length - 1, tree);
                } else {
                    for (int[] row : rows) {
                        boolean guarded = row[0] == 0xF001 || row[0] == 0xF002 || row[0] == 0xF004 || row[0] == 0xF005;
                        String line = String.format("%04X (%d) access %s", row[0], Math.max(row[1], row[2]), guarded ? "B6" : "B7");
                        assertTrue(tree.contains(line), line + " not in\n" + tree);
                    }
                }
                Shelf.deleteFile(t.card, h, 0xF007);
                assertFails(FileNotFoundException.class, "File not found", () -> Shelf.getFileSize(t.card, h, 0xF007));
                // A container is removed once it is empty.
                assertThrows(IOException.class, () -> Shelf.closeDir(t.card, h, true));
                Shelf.openDir(t.card, h, "2", false);
                for (int[] row : rows) if (row[0] != 0xF007) Shelf.deleteFile(t.card, h, row[0]);
                Shelf.closeDir(t.card, h, true);
                assertEquals("1a", Shelf.getDirList(t.card, h));
                assertFails(FileNotFoundException.class, "File not found", () -> Shelf.openDir(t.card, h, "2", false));
            });
        }
    }

    @ParameterizedTest
    @ValueSource(strings = {"gost", "gost2-v6", "gost2-v7"})
    void roundTripsUpToTheLargestFileAndOneByteMoreCreatesNothing(String name) throws Exception {
        Kind k = Kind.of(name);
        try (SimToken t = k.start()) {
            session(t, h -> {
                Shelf.Login(t.card, h, k.pin.toCharArray());
                int dir = 1;
                for (int n : new int[] {0, 1, 237, 238, k.largest}) {
                    // A store never grows a file: each length gets a container of its own.
                    Shelf.openDir(t.card, h, Integer.toHexString(dir++), true);
                    byte[] data = pattern(n, n);
                    Shelf.storeFile(t.card, h, 0xF003, data, false);
                    assertEquals(Math.max(2048, n), Shelf.getFileSize(t.card, h, 0xF003), "length " + n);
                    assertArrayEquals(data, read(t, h, 0xF003, n), "length " + n);
                }
                Shelf.openDir(t.card, h, Integer.toHexString(dir), true);
                String before = t.tree();
                assertFails(FileNotFoundException.class, NO_ROOM,
                        () -> Shelf.storeFile(t.card, h, 0xF003, pattern(k.largest + 1, 1), false));
                assertEquals(before, t.tree());
                assertFails(FileNotFoundException.class, "File not found", () -> Shelf.getFileSize(t.card, h, 0xF003));
            });
        }
    }

    @ParameterizedTest
    @ValueSource(strings = {"gost", "gost2-v6", "gost2-v7"})
    void protectedFilesAreReadableOnlyAfterLogin(String name) throws Exception {
        Kind k = Kind.of(name);
        int[] files = {0xF001, 0xF002, 0xF003, 0xF004, 0xF005, 0xF006, 0xF007};
        try (SimToken t = k.start()) {
            session(t, h -> {
                Shelf.Login(t.card, h, k.pin.toCharArray());
                Shelf.openDir(t.card, h, "5", true);
                for (int f : files) Shelf.storeFile(t.card, h, f, pattern(8, f), false);
                Shelf.Logout(t.card, h);
                for (int f : files) {
                    boolean guarded = f == 0xF001 || f == 0xF002 || f == 0xF004 || f == 0xF005;
                    String what = String.format("file %04X", f);
                    if (guarded) {
                        assertThrows(IOException.class, () -> read(t, h, f, 8), what);
                    } else {
                        assertArrayEquals(pattern(8, f), read(t, h, f, 8), what);
                    }
                }
                Shelf.Login(t.card, h, k.pin.toCharArray());
                for (int f : files) assertArrayEquals(pattern(8, f), read(t, h, f, 8), String.format("file %04X", f));
            });
        }
    }

    @ParameterizedTest
    @ValueSource(strings = {"gost", "gost2-v6", "gost2-v7"})
    void loginLogoutChangeAndBlocking(String name) throws Exception {
        Kind k = Kind.of(name);
        String fresh = "abcdefgh";
        try (SimToken t = k.start("--pin-tries", "3")) {
            session(t, h -> {
                Shelf.Login(t.card, h, k.pin.toCharArray());
                Shelf.Logout(t.card, h);
                assertFails(UnrecoverableKeyException.class, "Wrong pin",
                        () -> Shelf.Login(t.card, h, "00000000".toCharArray()));
                assertFails(UnrecoverableKeyException.class, "Wrong pin",
                        () -> Shelf.changePin(t.card, h, "00000000".toCharArray(), fresh.toCharArray()));
                Shelf.changePin(t.card, h, k.pin.toCharArray(), fresh.toCharArray());
                Shelf.Logout(t.card, h);
            });
            session(t, h -> {
                assertFails(UnrecoverableKeyException.class, "Wrong pin", () -> Shelf.Login(t.card, h, k.pin.toCharArray()));
                Shelf.Login(t.card, h, fresh.toCharArray());
                // Three misses in a row use the tries up; then even the right PIN is refused.
                for (int i = 0; i < 3; i++)
                    assertFails(UnrecoverableKeyException.class, "Wrong pin",
                            () -> Shelf.Login(t.card, h, "00000000".toCharArray()));
                assertFails(UnrecoverableKeyException.class, "Pin blocked", () -> Shelf.Login(t.card, h, fresh.toCharArray()));
            });
        }
    }

    /** The Gost store keeps no folders: a new token finds those that hold files, and only those. */
    @Test
    void aNewGostTokenFindsTheStoredFilesAndLosesAnEmptyContainer() throws Exception {
        try (SimToken t = Kind.of("gost").start()) {
            session(t, h -> {
                Shelf.Login(t.card, h, "123456".toCharArray());
                Shelf.openDir(t.card, h, "1", true);
                Shelf.openDir(t.card, h, "2", true);
                Shelf.storeFile(t.card, h, 0xF001, pattern(64, 1), false);
                Shelf.storeFile(t.card, h, 0xF006, pattern(96, 6), false);
                Shelf.openDir(t.card, h, "3", true);
                assertEquals("1\\2\\3", Shelf.getDirList(t.card, h));
            });
            assertTrue(t.tree().contains("8000F11E"), t.tree());
            session(t, h -> {
                assertEquals("2", Shelf.getDirList(t.card, h));
                Shelf.openDir(t.card, h, "2", false);
                assertEquals(96, Shelf.getFileSize(t.card, h, 0xF006));
                assertArrayEquals(pattern(96, 6), read(t, h, 0xF006, 96));
                Shelf.Login(t.card, h, "123456".toCharArray());
                assertArrayEquals(pattern(64, 1), read(t, h, 0xF001, 64));
                Shelf.deleteFile(t.card, h, 0xF001);
                Shelf.deleteFile(t.card, h, 0xF006);
                Shelf.closeDir(t.card, h, true);
                assertFalse(t.tree().contains("8000F11E"), t.tree());
            });
        }
    }
}
