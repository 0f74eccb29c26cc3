package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.FileNotFoundException;
import java.io.IOException;
import java.security.UnrecoverableKeyException;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * The key-container store from Java: the thirteen natives of the JVM's deliverable
 * over a card (or card service) of the tests' own linked to the simulated Java and
 * Heron tokens.
 */
@Tag("shelf")
class KeyShelfStoreTest {
    private static final String UNKNOWN = "Unknown error";
    private static final Class<? extends Throwable> UNKNOWN_ERROR = Shelf.deliverable().unknownError();

    static byte[] pattern(int length, int seed) {
        byte[] b = new byte[length];
        for (int i = 0; i < length; i++) b[i] = (byte) (seed * 31 + i * 7);
        return b;
    }

    static byte[] read(Object card, long h, int file, int length) {
        byte[] out = new byte[length];
        Shelf.readFile(card, h, file, length, out);
        return out;
    }

    static byte[] read(SimToken t, long h, int file, int length) {
        return read(t.card, h, file, length);
    }

    /**
     * The container file of the open directory has the size given and begins with
     * the bytes given, read back over its whole size.
     */
    static void assertHolds(Object card, long h, int file, byte[] data, int size) {
        String what = String.format("file %04X", file);
        assertEquals(size, Shelf.getFileSize(card, h, file), what);
        assertArrayEquals(data, java.util.Arrays.copyOf(read(card, h, file, size), data.length), what);
    }

    /** Stores the bytes in a container file of the open directory and reads them back: answers its size. */
    static int storeAndReadBack(Object card, long h, int file, byte[] data, int initialSize) {
        Shelf.storeFile(card, h, file, data, false);
        int size = Math.max(initialSize, data.length);
        assertHolds(card, h, file, data, size);
        return size;
    }

    @ParameterizedTest
    @ValueSource(strings = {"java", "heron"})
    void directoriesSerialAndLifecycle(String kind) throws Exception {
        try (SimToken t = SimToken.start(kind, "--serial", "0A001B")) {
            long h = Shelf.createToken(t.card);
            assertNotEquals(0L, h);
            assertEquals("a\\0\\1b\\", Shelf.getTokenSerial(t.card, h));

            // A fresh token has no store yet.
            assertFails(FileNotFoundException.class, "File not found", () -> Shelf.getDirList(t.card, h));
            assertFails(FileNotFoundException.class, "File not found", () -> Shelf.openDir(t.card, h, "1a", false));

            Shelf.openDir(t.card, h, "1a", true);   // creates E00E, 0B00 and 001A
            Shelf.openDir(t.card, h, "FF", true);   // closes 001A first
            Shelf.openDir(t.card, h, "1", true);
            Shelf.closeDir(t.card, h, false);
            assertEquals("1a\\ff\\1", Shelf.getDirList(t.card, h));
            assertTrue(t.tree().contains("001A/"), t.tree());

            // Closing twice: the second finds no open directory.
            assertFails(UNKNOWN_ERROR, UNKNOWN, () -> Shelf.closeDir(t.card, h, false));

            Shelf.openDir(t.card, h, "ff", false);
            Shelf.closeDir(t.card, h, true);
            assertEquals("1a\\1", Shelf.getDirList(t.card, h));

            // A failed open leaves no directory open: the one open before was closed first.
            Shelf.openDir(t.card, h, "1", false);
            assertFails(FileNotFoundException.class, "File not found", () -> Shelf.openDir(t.card, h, "77", false));
            assertFails(UNKNOWN_ERROR, UNKNOWN, () -> Shelf.closeDir(t.card, h, false));

            // A file number that is not a key-container file is never created.
            Shelf.openDir(t.card, h, "1a", false);
            assertFails(FileNotFoundException.class, "File not found",
                    () -> Shelf.storeFile(t.card, h, 0x0100, new byte[4], false));
            assertFails(FileNotFoundException.class, "File not found", () -> Shelf.getFileSize(t.card, h, 0xF001));
            assertFails(FileNotFoundException.class, "File not found", () -> read(t, h, 0xF001, 4));
            assertFails(FileNotFoundException.class, "File not found", () -> Shelf.deleteFile(t.card, h, 0xF001));

            Shelf.destroyToken(t.card, h);
            // The destroyed handle is gone, and the module was released with it; a new one works.
            assertFails(UNKNOWN_ERROR, UNKNOWN, () -> Shelf.getDirList(t.card, h));
            long h2 = Shelf.createToken(t.card);
            assertEquals("1a\\1", Shelf.getDirList(t.card, h2));
            Shelf.openDir(t.card, h2, "1", false);
            Shelf.destroyToken(t.card, h2);  // with a directory open
        }
    }

    /** The seven key-container files, created on first store with their initial sizes and access bytes. */
    @ParameterizedTest
    @ValueSource(strings = {"java", "heron"})
    void keyContainerFilesAreCreatedWithTheirSizesAndAccess(String kind) throws Exception {
        int[][] rows = {  // file, read-protected, initial size, length stored
            {0xF001, 1, 64, 10}, {0xF002, 1, 80, 80}, {0xF003, 0, 2048, 100}, {0xF004, 1, 64, 65},
            {0xF005, 1, 80, 0}, {0xF006, 0, 96, 300}, {0xF007, 0, 8, 8}};
        try (SimToken t = SimToken.start(kind)) {
            long h = Shelf.createToken(t.card);
            try {
                Shelf.openDir(t.card, h, "2", true);
                for (int[] row : rows) {
                    int size = storeAndReadBack(t.card, h, row[0], pattern(row[3], row[0]), row[2]);
                    String what = String.format("file %04X", row[0]);
                    SimToken.CardFile f = t.storeFile(2, row[0]);
                    assertNotNull(f, what + " is not on the card:\n" + t.tree());
                    assertEquals(size, f.size(), what);
                    // Read access first, then the write access; the write access is the user PIN's reference.
                    String pinRef = f.access().substring(2, 4);
                    assertNotEquals("00", pinRef, what + " must be written under the user PIN: " + f.access());
                    assertEquals(row[1] == 1 ? pinRef : "00", f.access().substring(0, 2), what + " read access");
                }
                // Stored again shorter: the file keeps its size, the bytes are overwritten in place.
                Shelf.storeFile(t.card, h, 0xF003, pattern(5, 9), false);
                assertEquals(2048, Shelf.getFileSize(t.card, h, 0xF003));
                assertArrayEquals(pattern(5, 9), read(t, h, 0xF003, 5));
                // An empty store is valid and creates the file at its initial size.
                Shelf.openDir(t.card, h, "3", true);
                Shelf.storeFile(t.card, h, 0xF007, new byte[0], false);
                assertEquals(8, Shelf.getFileSize(t.card, h, 0xF007));
                Shelf.deleteFile(t.card, h, 0xF007);
                assertNull(t.storeFile(3, 0xF007));
                assertFails(FileNotFoundException.class, "File not found", () -> Shelf.getFileSize(t.card, h, 0xF007));
            } finally {
                Shelf.destroyToken(t.card, h);
            }
        }
    }

    /**
     * A large container file goes to the card in many pieces within one native call:
     * under -Xcheck:jni the local references of every send must not pile up.
     */
    @ParameterizedTest
    @ValueSource(strings = {"java", "heron"})
    void largeFilesAreWrittenAndReadWhole(String kind) throws Exception {
        try (SimToken t = SimToken.start(kind)) {
            long h = Shelf.createToken(t.card);
            try {
                Shelf.Login(t.card, h, "1234".toCharArray());
                Shelf.openDir(t.card, h, "b", true);
                byte[] data = pattern(0x4000, 5);
                Shelf.storeFile(t.card, h, 0xF003, data, false);
                assertEquals(data.length, Shelf.getFileSize(t.card, h, 0xF003));
                assertArrayEquals(data, read(t, h, 0xF003, data.length));
            } finally {
                Shelf.destroyToken(t.card, h);
            }
        }
    }

    /**
     * More data than the family's files take (at most 7FFF bytes): refused with the
     * exception its code selects, and the card is left as it was, no file created and
     * no byte of an existing file overwritten.
     */
    @ParameterizedTest
    @ValueSource(strings = {"java", "heron"})
    void dataTooLongForTheFilesLeavesTheCardAsItWas(String kind) throws Exception {
        String space = "Not enough storage space";
        try (SimToken t = SimToken.start(kind)) {
            long h = Shelf.createToken(t.card);
            try {
                Shelf.Login(t.card, h, "1234".toCharArray());
                Shelf.openDir(t.card, h, "8", true);
                byte[] header = pattern(100, 3);
                Shelf.storeFile(t.card, h, 0xF003, header, false);
                String tree = t.tree();
                // 8000 and FFFF bytes: no such file can be created (the library refuses the
                // size); 7FFF: the card has no room left for a file that large.
                for (int length : new int[] {0x8000, 0xFFFF, 0x7FFF}) {
                    for (int file : new int[] {0xF001, 0xF006}) {
                        String what = String.format("%X bytes into new file %04X", length, file);
                        assertFails(what, FileNotFoundException.class, space,
                                () -> Shelf.storeFile(t.card, h, file, new byte[length], false));
                        assertEquals(tree, t.tree(), what);
                    }
                }
                // A store never grows a file: one byte more than F003 holds is refused before
                // a single piece is written, so the header it had is still whole.
                byte[] longer = pattern(2049, 4);
                assertFails(FileNotFoundException.class, space,
                        () -> Shelf.storeFile(t.card, h, 0xF003, longer, false));
                assertArrayEquals(header, read(t, h, 0xF003, header.length));
                assertArrayEquals(new byte[2048 - header.length],
                        java.util.Arrays.copyOfRange(read(t, h, 0xF003, 2048), header.length, 2048));
                assertEquals(tree, t.tree());
                // What fits still goes in whole.
                Shelf.storeFile(t.card, h, 0xF003, java.util.Arrays.copyOf(longer, 2048), false);
                assertArrayEquals(java.util.Arrays.copyOf(longer, 2048), read(t, h, 0xF003, 2048));
            } finally {
                Shelf.destroyToken(t.card, h);
            }
        }
    }

    /** Java tokens whose JavaManager version or chip identification the store does not take. */
    @ParameterizedTest
    @CsvSource({
        "--manager-version, 9, false",
        "--manager-version, 255, false",
        "--manager-version, 8, true",
        "--chip-id, 409078711291, false",
        "--chip-id, 409079011291, false",
        "--chip-id, 409079011292, true",
    })
    void javaTokensAreRefusedByManagerVersionAndChip(String option, String value, boolean accepted) throws Exception {
        try (SimToken t = SimToken.start("java", option, value)) {
            if (accepted) {
                long h = Shelf.createToken(t.card);
                assertNotEquals(0L, h);
                Shelf.destroyToken(t.card, h);
            } else {
                assertFails(UNKNOWN_ERROR, UNKNOWN, () -> Shelf.createToken(t.card));
            }
        }
    }

    /** Bad input from Java: refused with the exception its code selects, before any card traffic. */
    @Test
    void badInputIsRefusedBeforeAnyCardTraffic() throws Exception {
        // The destroyed token lives on a card of its own: two tokens over one card would
        // each believe in their own applet selection.
        try (SimToken t = SimToken.start("java"); SimToken other = SimToken.start("java")) {
            long gone = Shelf.createToken(other.card);
            long h = Shelf.createToken(t.card);
            Shelf.destroyToken(other.card, gone);
            // The directory the second round uses, made while the card is fresh.
            Shelf.openDir(t.card, h, "4", true);
            Shelf.closeDir(t.card, h, false);
            try {
                String bad = "Smart card error with code 0x6b00";
                List<Object[]> cases = new ArrayList<>();
                // what, exception class, message, the call
                cases.add(new Object[] {"createToken(null)", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.createToken(null)});
                cases.add(new Object[] {"unknown handle", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.getTokenSerial(t.card, 12345L)});
                cases.add(new Object[] {"destroyed handle", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.openDir(t.card, gone, "1", true)});
                cases.add(new Object[] {"destroy twice", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.destroyToken(t.card, gone)});
                cases.add(new Object[] {"zero handle", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.Logout(t.card, 0L)});
                cases.add(new Object[] {"login null", UnrecoverableKeyException.class, "Pin missing",
                    (Executable) () -> Shelf.Login(t.card, h, null)});
                cases.add(new Object[] {"login empty", UnrecoverableKeyException.class, "Pin missing",
                    (Executable) () -> Shelf.Login(t.card, h, new char[0])});
                cases.add(new Object[] {"change, old empty", UnrecoverableKeyException.class, "Pin missing",
                    (Executable) () -> Shelf.changePin(t.card, h, new char[0], "1".toCharArray())});
                cases.add(new Object[] {"change, new null", UnrecoverableKeyException.class, "New pin missing",
                    (Executable) () -> Shelf.changePin(t.card, h, "1".toCharArray(), null)});
                cases.add(new Object[] {"change, new empty", UnrecoverableKeyException.class, "New pin missing",
                    (Executable) () -> Shelf.changePin(t.card, h, "1".toCharArray(), new char[0])});
                cases.add(new Object[] {"login, PIN of 65536", IOException.class, bad,
                    (Executable) () -> Shelf.Login(t.card, h, new char[65536])});
                cases.add(new Object[] {"change, new PIN of 65536", IOException.class, bad,
                    (Executable) () -> Shelf.changePin(t.card, h, "1".toCharArray(), new char[65536])});
                cases.add(new Object[] {"dir name null", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.openDir(t.card, h, null, true)});
                cases.add(new Object[] {"dir name 10000", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.openDir(t.card, h, "10000", true)});
                cases.add(new Object[] {"dir name ffffffffff", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.openDir(t.card, h, "ffffffffff", true)});
                cases.add(new Object[] {"dir name -1", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.openDir(t.card, h, "-1", true)});
                cases.add(new Object[] {"read, no dir open", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> read(t, h, 0xF001, 4)});
                cases.add(new Object[] {"size, no dir open", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.getFileSize(t.card, h, 0xF001)});
                // Stored with no directory open, a key-container file would go into a directory
                // 0000 made for it, which no read can reach: refused instead of reported stored.
                cases.add(new Object[] {"store, no dir open", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.storeFile(t.card, h, 0xF003, new byte[4], false)});
                for (int file : new int[] {-1, 0x10000, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
                    String n = String.format(" %x", file);
                    cases.add(new Object[] {"store" + n, IOException.class, bad,
                        (Executable) () -> Shelf.storeFile(t.card, h, file, new byte[1], false)});
                    cases.add(new Object[] {"read" + n, IOException.class, bad, (Executable) () -> read(t, h, file, 1)});
                    cases.add(new Object[] {"size" + n, IOException.class, bad,
                        (Executable) () -> Shelf.getFileSize(t.card, h, file)});
                    cases.add(new Object[] {"delete" + n, IOException.class, bad,
                        (Executable) () -> Shelf.deleteFile(t.card, h, file)});
                }
                cases.add(new Object[] {"store null", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.storeFile(t.card, h, 0xF001, null, false)});
                cases.add(new Object[] {"store 65536 bytes", IOException.class, bad,
                    (Executable) () -> Shelf.storeFile(t.card, h, 0xF003, new byte[65536], false)});
                cases.add(new Object[] {"read into null", UNKNOWN_ERROR, UNKNOWN,
                    (Executable) () -> Shelf.readFile(t.card, h, 0xF001, 4, null)});
                cases.add(new Object[] {"read 65536 bytes", IOException.class, bad,
                    (Executable) () -> read(t, h, 0xF003, 65536)});

                // With a directory open the file-number and length checks still come first.
                Shelf.openDir(t.card, h, "4", false);
                long before = t.commands();
                for (Object[] c : cases) {
                    if (!((String) c[0]).matches("(store|read|size|delete) .*|store 65536 bytes|read 65536 bytes")) continue;
                    @SuppressWarnings("unchecked")
                    Class<? extends Throwable> type = (Class<? extends Throwable>) c[1];
                    assertFails((String) c[0], type, (String) c[2], (Executable) c[3]);
                    assertEquals(before, t.commands(), c[0] + " reached the card with a directory open");
                }
                Shelf.closeDir(t.card, h, false);
                // With no directory open, reading and sizing may refuse for either reason first.
                before = t.commands();
                for (Object[] c : cases) {
                    if (((String) c[0]).matches("(read|size) .*|read 65536 bytes")) continue;
                    @SuppressWarnings("unchecked")
                    Class<? extends Throwable> type = (Class<? extends Throwable>) c[1];
                    assertFails((String) c[0], type, (String) c[2], (Executable) c[3]);
                    assertEquals(before, t.commands(), c[0] + " reached the card");
                }
                assertFalse(t.tree().contains("0000/"), t.tree());
                // An empty name, or one without hexadecimal digits, names directory 0000 (which this
                // card does not take as a directory), and leaves no directory open.
                Shelf.openDir(t.card, h, "4", false);
                assertFails(FileNotFoundException.class, "File not found", () -> Shelf.openDir(t.card, h, "", false));
                assertFails(UNKNOWN_ERROR, UNKNOWN, () -> Shelf.closeDir(t.card, h, false));
                assertFails(FileNotFoundException.class, "File not found", () -> Shelf.openDir(t.card, h, "zz", false));
                assertFails(UNKNOWN_ERROR, UNKNOWN, () -> Shelf.closeDir(t.card, h, false));
            } finally {
                Shelf.destroyToken(t.card, h);
            }
        }
    }

    /** Where the two deliverables answer differently: their transports fail in their own ways. */
    @Test
    void whereTheDeliverablesDiffer() throws Exception {
        Deliverable d = Shelf.deliverable();
        boolean ocf = d == Deliverable.KEYSHELF;
        // No applet answers the probe.
        try (SimToken t = SimToken.start("java")) {
            t.card.answerEveryCommand(Hex.bytes("6A82"));
            assertFails("no applet", d.noApplet(), d.noAppletMessage, () -> Shelf.createToken(t.card));
        }
        // The card-manager check's GET DATA 9F7F fails (the manager's version, read with the
        // same command just before, goes through): libKeyShelf refuses the token.
        try (SimToken t = SimToken.start("java")) {
            t.card.failCommands(Hex.bytes("80CA9F7F"), 1);
            if (d.refusesWhenGetDataFails) {
                assertFails("GET DATA fails", UNKNOWN_ERROR, UNKNOWN, () -> Shelf.createToken(t.card));
            } else {
                Shelf.destroyToken(t.card, Shelf.createToken(t.card));
            }
        }
        try (SimToken t = SimToken.start("heron")) {
            long h = Shelf.createToken(t.card);
            try {
                Shelf.openDir(t.card, h, "5", true);
                // A later call with no card object: libKeyShelf refuses it before any card
                // traffic; libKeyShelfJx goes on, and fails only where the card is needed.
                long before = t.commands();
                if (ocf) {
                    assertFails("close, no service", IOException.class, d.transportFailure,
                            () -> Shelf.closeDir(null, h, false));
                    assertEquals(before, t.commands());
                } else {
                    Shelf.closeDir(null, h, false);
                    Shelf.openDir(t.card, h, "5", false);
                }
                assertFails("serial, no card object", IOException.class, d.transportFailure,
                        () -> Shelf.getTokenSerial(null, h));
                if (ocf) assertEquals(before, t.commands());
                // A transport failure in the middle of a session, and the token goes on after it.
                t.card.failCommands(new byte[0]);
                assertFails("broken link", IOException.class, d.transportFailure,
                        () -> Shelf.storeFile(t.card, h, 0xF003, new byte[8], false));
                t.card.failCommands(null);
                Shelf.storeFile(t.card, h, 0xF003, pattern(8, 1), false);
                assertArrayEquals(pattern(8, 1), read(t, h, 0xF003, 8));
            } finally {
                Shelf.destroyToken(t.card, h);
            }
        }
    }
}
