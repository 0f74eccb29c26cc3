package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.sun.management.HotSpotDiagnosticMXBean;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.lang.reflect.Field;
import java.nio.MappedByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import javax.smartcardio.ATR;
import javax.smartcardio.CardException;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The javax.smartcardio transport leaves no secret in the Java arrays it makes: the
 * command array it hands to CommandAPDU (a PIN of a VERIFY) and the copy of the
 * answer's data that getData gives it (a read-protected file's bytes) are zeroed
 * once the card has answered, on the failed roads too.
 *
 * <p>Those arrays are garbage when the send returns, out of any Java reference's
 * reach, so a heap dump that keeps unreachable objects is searched for the secrets
 * instead. Every other copy is the test's own and zeroed first: the command and the
 * answer the test passes and gets back, the card's copies, and the arrays inside the
 * JDK's CommandAPDU and ResponseAPDU (through reflection; the JVM of this test opens
 * javax.smartcardio for it). The secrets themselves are held as int[], whose dump
 * form never matches their bytes. A garbage array with a third pattern, made just
 * before the sends, must show in the dump: it proves that no collection swept the
 * transport's arrays away before the dump was taken.
 */
class TransportHeapTest {
    private static final int[] PIN = pattern(16, 0x3B, 0xA7);
    private static final int[] FILE = pattern(32, 0x5D, 0x61);
    private static final int[] CANARY = pattern(24, 0x2F, 0xC3);
    private static final int ROUNDS = 3;

    /** Published and dropped, so that the canary's allocation cannot be optimised away. */
    private static volatile byte[] published;

    @TempDir
    Path dir;

    /** Distinct bytes from a step and a start: no run of them is likely anywhere else in a heap. */
    private static int[] pattern(int n, int step, int start) {
        int[] p = new int[n];
        for (int i = 0; i < n; i++) p[i] = (start + i * step + (i * i) % 7) & 0xFF;
        return p;
    }

    private static byte[] bytes(int[] p, byte[] prefix, byte[] suffix) {
        byte[] b = new byte[prefix.length + p.length + suffix.length];
        System.arraycopy(prefix, 0, b, 0, prefix.length);
        for (int i = 0; i < p.length; i++) b[prefix.length + i] = (byte) p[i];
        System.arraycopy(suffix, 0, b, prefix.length + p.length, suffix.length);
        return b;
    }

    private static boolean holds(byte[] b, int at, int[] p) {
        if (b.length < at + p.length) return false;
        for (int i = 0; i < p.length; i++) if ((b[at + i] & 0xFF) != p[i]) return false;
        return true;
    }

    private static void zero(Object apdu) {
        try {
            Field f = apdu.getClass().getDeclaredField("apdu");
            f.setAccessible(true);
            Arrays.fill((byte[]) f.get(apdu), (byte) 0);
        } catch (ReflectiveOperationException | RuntimeException e) {
            throw new AssertionError("cannot zero the copy inside " + apdu.getClass().getName()
                    + " (run with --add-opens java.smartcardio/javax.smartcardio=ALL-UNNAMED)", e);
        }
    }

    /** What the card does with the command carrying the PIN. */
    enum Answer { FILE, NULL, THROW }

    /**
     * A card that answers the PIN's command with the file's bytes and 90 00 (or null, or
     * an exception), leaving no copy of either behind but the ResponseAPDUs it keeps for
     * the test to zero once the transport has read them.
     */
    private static final class Card extends BasicChannelCard {
        final List<ResponseAPDU> answers = new ArrayList<>();
        Answer next = Answer.FILE;
        int pinCommands;

        @Override
        public ATR getATR() {
            return new ATR(Hex.bytes("3B 80 80 01 01"));
        }

        @Override
        protected ResponseAPDU transmit(CommandAPDU command) throws CardException {
            byte[] c = command.getBytes();
            if (holds(c, 5, PIN)) pinCommands++;
            Arrays.fill(c, (byte) 0);
            zero(command);
            if (next == Answer.NULL) return null;
            if (next == Answer.THROW) throw new CardException("card removed");
            byte[] answer = bytes(FILE, new byte[0], Hex.bytes("90 00"));
            ResponseAPDU r = new ResponseAPDU(answer);
            Arrays.fill(answer, (byte) 0);
            answers.add(r);
            return r;
        }
    }

    /** One PIN's command for each way the card can take it. */
    private static void sends(Card card) {
        long h = SenderBridge.open(card);
        try {
            for (Answer a : Answer.values()) {
                card.next = a;
                byte[] command = bytes(PIN, Hex.bytes("00 20 00 01 10"), new byte[0]);
                try {
                    byte[] response = SenderBridge.send(h, card, command);
                    if (a == Answer.FILE) {
                        assertTrue(holds(response, 0, FILE) && response.length == FILE.length + 2, "the file's bytes came back");
                        Arrays.fill(response, (byte) 0);
                    } else {
                        // A failed send answers nothing: the bridge returns the empty response.
                        assertEquals(0, response.length, a.name());
                    }
                } finally {
                    Arrays.fill(command, (byte) 0);
                }
            }
        } finally {
            SenderBridge.close(h);
        }
        // The card's answers are its own: the transport read them and left them as they came.
        for (ResponseAPDU r : card.answers) {
            byte[] b = r.getBytes();
            assertTrue(holds(b, 0, FILE) && b.length == FILE.length + 2 && r.getSW() == 0x9000, "an answer was written");
            Arrays.fill(b, (byte) 0);
            zero(r);
        }
        assertEquals(Answer.values().length, card.pinCommands);
    }

    @Test
    void noSecretIsLeftInTheTransportsArrays() throws Exception {
        HotSpotDiagnosticMXBean diagnostic = ManagementFactory.getPlatformMXBean(HotSpotDiagnosticMXBean.class);
        for (int round = 1; round <= ROUNDS; round++) {
            Card card = new Card();
            Path dump = dir.resolve("round" + round + ".hprof");
            // An empty young generation leaves a collection before the dump unlikely; the canary tells.
            System.gc();
            published = bytes(CANARY, new byte[0], new byte[0]);
            published = null;
            sends(card);
            diagnostic.dumpHeap(dump.toString(), false);
            int[] found = count(dump, CANARY, PIN, FILE);
            Files.delete(dump);
            if (found[0] == 0) continue;  // swept: this dump proves nothing
            assertEquals("PIN 0, file 0", "PIN " + found[1] + ", file " + found[2], "Java arrays holding a secret");
            return;
        }
        fail("a collection swept the garbage away before every one of " + ROUNDS + " dumps");
    }

    /** How many times each pattern occurs in the file. */
    private static int[] count(Path file, int[]... patterns) throws IOException {
        int[] found = new int[patterns.length];
        try (FileChannel ch = FileChannel.open(file, StandardOpenOption.READ)) {
            long size = ch.size();
            assertTrue(size < Integer.MAX_VALUE, "heap dump of " + size + " bytes");
            MappedByteBuffer b = ch.map(FileChannel.MapMode.READ_ONLY, 0, size);
            int n = (int) size;
            for (int k = 0; k < patterns.length; k++) {
                int[] p = patterns[k];
                for (int i = 0; i + p.length <= n; i++) {
                    if ((b.get(i) & 0xFF) != p[0]) continue;
                    int j = 1;
                    while (j < p.length && (b.get(i + j) & 0xFF) == p[j]) j++;
                    if (j == p.length) found[k]++;
                }
            }
        }
        return found;
    }
}
