package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static io.keyshelf.jtest.KeyShelfLibrary.assertUnknownError;
import static io.keyshelf.jtest.KeyShelfPinTest.session;
import static io.keyshelf.jtest.KeyShelfStoreTest.pattern;
import static io.keyshelf.jtest.KeyShelfStoreTest.read;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.FileNotFoundException;
import java.io.IOException;
import java.security.UnrecoverableKeyException;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * The key-container store from Java on a simulated DataStore token (a flat record
 * store, the tree kept in the records' object identifiers): the thirteen natives of
 * the JVM's deliverable over a card (or card service) of the tests' own, with the
 * card's record store checked on its side. And the Wren token, which neither
 * deliverable opens.
 */
@Tag("shelf")
class DataStoreStoreTest {
    private static final String NOT_FOUND = "File not found";
    private static final String NO_SPACE = "Not enough storage space";

    /** One record as the simulator lists it: "HHHH id IIII flag FF size N". */
    record Rec(int handle, int objectId, int flag, int size) {}

    private static final Pattern RECORD = Pattern.compile("([0-9A-F]{4}) id ([0-9A-F]{4}) flag ([0-9A-F]{2}) size (\\d+)");

    static List<Rec> records(SimToken t) throws Exception {
        List<Rec> out = new ArrayList<>();
        for (String line : t.tree().split("\n")) {
            Matcher m = RECORD.matcher(line.strip());
            if (m.matches())
                out.add(new Rec(Integer.parseInt(m.group(1), 16), Integer.parseInt(m.group(2), 16),
                        Integer.parseInt(m.group(3), 16), Integer.parseInt(m.group(4))));
        }
        return out;
    }

    /**
     * The record of a container file F001..F007, found by its key (the low byte of its
     * object identifier: F1..F7) and its size.
     */
    static Rec fileRecord(SimToken t, int file, int size) throws Exception {
        int key = 0xF0 | (file & 0x0F);
        for (Rec r : records(t))
            if ((r.objectId() & 0xFF) == key && r.size() == size) return r;
        return null;
    }

    // file, read-protected, initial size, length stored
    private static final int[][] ROWS = {
        {0xF001, 1, 64, 10}, {0xF002, 1, 80, 80}, {0xF003, 0, 2048, 700}, {0xF004, 1, 64, 65},
        {0xF005, 1, 80, 0}, {0xF006, 0, 96, 300}, {0xF007, 0, 8, 8}};

    private static void readBack(SimToken t, long h) {
        for (int[] row : ROWS)
            KeyShelfStoreTest.assertHolds(t.card, h, row[0], pattern(row[3], row[0]), Math.max(row[2], row[3]));
    }

    /** The whole session on token variants the card may come as. */
    @ParameterizedTest
    @ValueSource(strings = {
        "",
        "--status-record 34",
        "--platform --keep-pin-on-platform",
        "--platform 58 --keep-pin-on-platform --status-record 34",
        "--handles lowest",
        "--handles list:0030,0010,0020,0005,0040,0050,0060,0070,0080,0090,00A0,00B0,00C0,00D0,FFFF",
        "--page-size 2",
    })
    void containerStoreSession(String variant) throws Exception {
        List<String> options = new ArrayList<>(List.of("--serial", "0A001B0000000001"));
        if (!variant.isEmpty()) options.addAll(List.of(variant.split(" ")));
        try (SimToken t = SimToken.start("datastore", options.toArray(new String[0]))) {
            session(t, h -> {
                assertEquals("a\\0\\1b\\0\\0\\0\\0\\1\\", Shelf.getTokenSerial(t.card, h));
                assertFails(FileNotFoundException.class, NOT_FOUND, () -> Shelf.getDirList(t.card, h));
                Shelf.Login(t.card, h, "1234".toCharArray());

                Shelf.openDir(t.card, h, "1", true);
                Shelf.openDir(t.card, h, "cc00", true);
                Shelf.openDir(t.card, h, "F000", true);
                assertEquals("1\\cc00\\f000", Shelf.getDirList(t.card, h));
                // Only the key table's FIDs can be stored: 001A cannot, and no directory stays open.
                assertFails(IOException.class, "Smart card error with code 0x6b00",
                        () -> Shelf.openDir(t.card, h, "1a", true));
                assertUnknownError("no open directory", () -> Shelf.closeDir(t.card, h, false));

                Shelf.openDir(t.card, h, "1", false);
                for (int[] row : ROWS) Shelf.storeFile(t.card, h, row[0], pattern(row[3], row[0]), false);
                readBack(t, h);
                for (int[] row : ROWS) {
                    Rec r = fileRecord(t, row[0], Math.max(row[2], row[3]));
                    String what = String.format("file %04X in %s", row[0], records(t));
                    assertTrue(r != null, what);
                    assertEquals(row[1], r.flag(), what);
                }

                // Protected files are read under the PIN only; the others always.
                Shelf.Logout(t.card, h);
                assertFails(IOException.class, "Smart card error with code 0x6900", () -> read(t, h, 0xF001, 4));
                assertArrayEquals(pattern(8, 0xF007), read(t, h, 0xF007, 8));
                Shelf.Login(t.card, h, "1234".toCharArray());

                Shelf.storeFile(t.card, h, 0xF007, pattern(8, 0xF007), false);
                Shelf.deleteFile(t.card, h, 0xF006);
                assertFails(FileNotFoundException.class, NOT_FOUND, () -> Shelf.getFileSize(t.card, h, 0xF006));
                Shelf.storeFile(t.card, h, 0xF006, pattern(300, 0xF006), false);

                Shelf.openDir(t.card, h, "f000", false);
                Shelf.closeDir(t.card, h, true);
                assertEquals("1\\cc00", Shelf.getDirList(t.card, h));
            });

            // A new token reads the whole store from the card again.
            session(t, h2 -> {
                Shelf.Login(t.card, h2, "1234".toCharArray());
                assertEquals("1\\cc00", Shelf.getDirList(t.card, h2));
                Shelf.openDir(t.card, h2, "1", false);
                readBack(t, h2);
            });
        }
    }

    @Test
    void wrongAndBlockedPins() throws Exception {
        try (SimToken t = SimToken.start("datastore", "--pin-tries", "3")) {
            session(t, h -> {
                assertFails(UnrecoverableKeyException.class, "Wrong pin",
                        () -> Shelf.changePin(t.card, h, "9999".toCharArray(), "5678".toCharArray()));
                Shelf.changePin(t.card, h, "1234".toCharArray(), "5678".toCharArray());
                assertFails(UnrecoverableKeyException.class, "Wrong pin",
                        () -> Shelf.Login(t.card, h, "1234".toCharArray()));
                Shelf.Login(t.card, h, "5678".toCharArray());
                Shelf.Logout(t.card, h);
                for (int i = 0; i < 3; i++)
                    assertFails(UnrecoverableKeyException.class, "Wrong pin",
                            () -> Shelf.Login(t.card, h, "0000".toCharArray()));
                assertFails(UnrecoverableKeyException.class, "Pin blocked",
                        () -> Shelf.Login(t.card, h, "5678".toCharArray()));
                assertFails(UnrecoverableKeyException.class, "Pin blocked",
                        () -> Shelf.changePin(t.card, h, "5678".toCharArray(), "1234".toCharArray()));
            });
        }
    }

    /** A store too full for a copy of a file beside it: the file comes back under a new handle. */
    @Test
    void storeTooFullForACopy() throws Exception {
        try (SimToken t = SimToken.start("datastore", "--capacity", "3000")) {
            session(t, h -> {
                Shelf.openDir(t.card, h, "cc01", true);
                Shelf.storeFile(t.card, h, 0xF003, pattern(100, 1), false);
                int before = fileRecord(t, 0xF003, 2048).handle();
                Shelf.storeFile(t.card, h, 0xF003, pattern(2048, 2), false);
                assertNotEquals(before, fileRecord(t, 0xF003, 2048).handle());
                assertArrayEquals(pattern(2048, 2), read(t, h, 0xF003, 2048));
                // Too large for the card at all, or for any record.
                assertFails(FileNotFoundException.class, NO_SPACE,
                        () -> Shelf.storeFile(t.card, h, 0xF006, new byte[1000], false));
                assertFails(FileNotFoundException.class, NO_SPACE,
                        () -> Shelf.storeFile(t.card, h, 0xF006, new byte[0x4001], false));
            });
            session(t, h2 -> {
                Shelf.openDir(t.card, h2, "cc01", false);
                assertArrayEquals(pattern(2048, 2), read(t, h2, 0xF003, 2048));
            });
        }
    }

    /** Handles from 0200 up cannot be named by a child's object identifier: nothing is created under them. */
    @Test
    void handlesTooWideForAFolder() throws Exception {
        try (SimToken t = SimToken.start("datastore", "--handles", "from:0200")) {
            session(t, h -> {
                assertFails(FileNotFoundException.class, NO_SPACE, () -> Shelf.openDir(t.card, h, "1", true));
            });
        }
    }

    /** Wren tokens are reached through the card library only: the binding refuses them, registering nothing. */
    @Test
    void wrenTokensAreRefused() throws Exception {
        try (SimToken t = SimToken.start("wren")) {
            Deliverable d = Shelf.deliverable();
            assertFails(d.noApplet(), d.noAppletMessage, () -> Shelf.createToken(t.card));
            assertUnknownError("no token registered", () -> Shelf.getTokenSerial(t.card, 1L));
        }
    }
}
