package io.keyshelf.jtest;

import static io.keyshelf.jtest.GostStoreTest.pattern;
import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static io.keyshelf.jtest.KeyShelfStoreTest.read;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.io.FileNotFoundException;
import java.io.IOException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import javax.smartcardio.Card;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * The Gost token in the first slot of a private pcscd with the vpcd driver, the
 * Gost2 token in the second, both reached through TerminalFactory.getDefault().
 * Runs in a JVM of its own (tag pcsc-gost): libpcsclite reads the daemon's socket
 * path once per process.
 */
@Tag("pcsc-gost")
class GostPcscTest {
    private static final String READER = "KeyShelf Test PCD 00 0";
    private static PcscRig pcscd;
    private static Process gost;
    private static Process gost2;

    private static Process startSimulator(String kind, int slotPort, String... more) throws IOException {
        Path exe = CardSimProcess.executable().orElse(null);
        Assumptions.assumeTrue(exe != null, "no card simulator built");
        List<String> command = new ArrayList<>(
                List.of(exe.toString(), "--card", kind, "--vpcd", "127.0.0.1:" + slotPort, "--stdin-lifetime"));
        command.addAll(List.of(more));
        return new ProcessBuilder(command)
                .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                .redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
    }

    @BeforeAll
    static void startPcscd() throws Exception {
        pcscd = PcscRig.start();
        int port = pcscd.port;
        KeyShelfLibrary.load();
        gost = startSimulator("gost", port);
        gost2 = startSimulator("gost2", port + 1);
    }

    @AfterAll
    static void stopPcscd() throws Exception {
        PcscStoreTest.stopSimulator(gost);
        PcscStoreTest.stopSimulator(gost2);
        if (pcscd != null) pcscd.stop();
    }

    /**
     * Serial, PIN, the container files, the largest file that travels through this
     * stack, and one byte past the largest file the token takes, which is refused.
     */
    private static void storeSession(int slot, String pin, int largestThrough, int largest) throws Exception {
        Card card = PcscStoreTest.connect(READER + slot);
        try {
            long h = KeyShelfJx.createToken(card);
            try {
                assertTrue(KeyShelfJx.getTokenSerial(card, h).matches("([0-9a-f]{1,2}\\\\){8}"));
                assertFails(java.security.UnrecoverableKeyException.class, "Wrong pin",
                        () -> KeyShelfJx.Login(card, h, "00000000".toCharArray()));
                KeyShelfJx.Login(card, h, pin.toCharArray());
                KeyShelfJx.openDir(card, h, "a1", true);
                for (int f = 0xF001; f <= 0xF007; f++) KeyShelfJx.storeFile(card, h, f, pattern(8, f), false);
                KeyShelfJx.Logout(card, h);
                assertArrayEquals(pattern(8, 0xF003), read(card, h, 0xF003, 8));
                KeyShelfJx.Login(card, h, pin.toCharArray());
                assertArrayEquals(pattern(8, 0xF001), read(card, h, 0xF001, 8));
                int dir = 0xb0;
                for (int n : new int[] {0, 1, 237, 238}) {
                    KeyShelfJx.openDir(card, h, Integer.toHexString(dir++), true);
                    KeyShelfJx.storeFile(card, h, 0xF006, pattern(n, n), false);
                    assertArrayEquals(pattern(n, n), read(card, h, 0xF006, n), "length " + n);
                }
                KeyShelfJx.openDir(card, h, "a2", true);
                byte[] big = pattern(largestThrough, 3);
                KeyShelfJx.storeFile(card, h, 0xF003, big, false);
                assertEquals(largestThrough, KeyShelfJx.getFileSize(card, h, 0xF003));
                assertArrayEquals(big, read(card, h, 0xF003, largestThrough));
                KeyShelfJx.openDir(card, h, "a3", true);
                assertFails(FileNotFoundException.class, "Not enough storage space",
                        () -> KeyShelfJx.storeFile(card, h, 0xF003, pattern(largest + 1, 4), false));
                assertEquals("a1\\b0\\b1\\b2\\b3\\a2\\a3", KeyShelfJx.getDirList(card, h));
                // A file deleted and its emptied container removed.
                KeyShelfJx.openDir(card, h, "b0", false);
                KeyShelfJx.deleteFile(card, h, 0xF006);
                assertFails(FileNotFoundException.class, "File not found", () -> KeyShelfJx.getFileSize(card, h, 0xF006));
                KeyShelfJx.closeDir(card, h, true);
                assertEquals("a1\\b1\\b2\\b3\\a2\\a3", KeyShelfJx.getDirList(card, h));
                // A PIN change: the old PIN is wrong afterwards, the new one opens the files.
                KeyShelfJx.changePin(card, h, pin.toCharArray(), "abcdefgh".toCharArray());
                KeyShelfJx.Logout(card, h);
                assertFails(java.security.UnrecoverableKeyException.class, "Wrong pin",
                        () -> KeyShelfJx.Login(card, h, pin.toCharArray()));
                KeyShelfJx.Login(card, h, "abcdefgh".toCharArray());
                KeyShelfJx.openDir(card, h, "a1", false);
                assertArrayEquals(pattern(8, 0xF001), read(card, h, 0xF001, 8));
                KeyShelfJx.openDir(card, h, "a3", false);
                if (largestThrough < largest) {
                    // The file is made, but its contents travel whole in one answer, which
                    // this stack does not carry: the transport's failure reaches Java.
                    assertFails(IOException.class, "Smart card error with code 0xffff",
                            () -> KeyShelfJx.storeFile(card, h, 0xF003, pattern(largest, 5), false));
                }
            } finally {
                KeyShelfJx.destroyToken(card, h);
            }
        } finally {
            card.disconnect(false);
        }
    }

    /** One answer through pcscd, vpcd and Java's PC/SC provider carries at most 8192 bytes. */
    @Test
    void gostStoreThroughPcscd() throws Exception {
        storeSession(0, "123456", 8192 - 8 - 2, 16384);
    }

    @Test
    void gost2StoreThroughPcscd() throws Exception {
        storeSession(1, "12345678", 32746, 32746);
    }

    /** A Gost2 token of record version 6 takes the second slot for this test; a fresh one of version 7 follows it. */
    @Test
    void gost2Version6StoreThroughPcscd() throws Exception {
        PcscDataStoreSession.stop(gost2);
        gost2 = null;
        PcscDataStoreSession.awaitEmptySlot();
        Process six = startSimulator("gost2", pcscd.port + 1, "--gost2-version", "6");
        try {
            storeSession(1, "12345678", 32746, 32746);
        } finally {
            PcscDataStoreSession.stop(six);
            PcscDataStoreSession.awaitEmptySlot();
            gost2 = startSimulator("gost2", pcscd.port + 1);
        }
    }
}
