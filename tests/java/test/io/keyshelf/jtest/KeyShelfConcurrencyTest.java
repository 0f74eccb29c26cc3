package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

/**
 * Java threads on separate tokens and on one shared token at once: every call on a
 * token runs whole before the next (the directory it opens is still open when it
 * stores), so no file gets another thread's bytes.
 */
@Tag("shelf")
class KeyShelfConcurrencyTest {
    private static final int ROUNDS = 12;

    private static String dirName(int worker, int round) {
        return Integer.toHexString(0x100 + worker * 0x40 + round);
    }

    private static void work(SimToken t, long h, int worker) {
        for (int round = 0; round < ROUNDS; round++) {
            String name = dirName(worker, round);
            // No closeDir: another thread may have opened its own directory since, and each
            // open closes the one before anyway.
            Shelf.openDir(t.card, h, name, true);
        }
    }

    private static void checkDirs(SimToken t, long h, int workers) {
        List<String> want = new ArrayList<>();
        for (int w = 0; w < workers; w++)
            for (int r = 0; r < ROUNDS; r++) want.add(dirName(w, r));
        List<String> got = new ArrayList<>(List.of(Shelf.getDirList(t.card, h).split("\\\\")));
        got.sort(null);
        want.sort(null);
        assertEquals(want, got);
    }

    @Test
    @Timeout(value = 15, unit = TimeUnit.SECONDS, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
    void threadsOnOneSharedTokenAndOnSeparateTokens() throws Exception {
        final int workers = 4;
        try (SimToken shared = SimToken.start("java"); SimToken a = SimToken.start("heron");
                SimToken b = SimToken.start("java")) {
            long hs = Shelf.createToken(shared.card);
            long ha = Shelf.createToken(a.card);
            long hb = Shelf.createToken(b.card);
            ExecutorService pool = Executors.newFixedThreadPool(workers + 2);
            try {
                List<Future<?>> jobs = new ArrayList<>();
                for (int w = 0; w < workers; w++) {
                    final int worker = w;
                    jobs.add(pool.submit(() -> work(shared, hs, worker)));
                }
                jobs.add(pool.submit(() -> work(a, ha, 0)));
                jobs.add(pool.submit(() -> work(b, hb, 1)));
                // Meanwhile the serial is read over and over on the shared token.
                String serial = Shelf.getTokenSerial(shared.card, hs);
                for (int i = 0; i < 50; i++) assertEquals(serial, Shelf.getTokenSerial(shared.card, hs));
                for (Future<?> f : jobs) f.get(10, TimeUnit.SECONDS);
            } finally {
                pool.shutdownNow();
            }
            checkDirs(shared, hs, workers);
            assertEquals(dirName(0, 0), Shelf.getDirList(a.card, ha).split("\\\\")[0]);
            assertEquals(ROUNDS, Shelf.getDirList(b.card, hb).split("\\\\").length);
            Shelf.destroyToken(shared.card, hs);
            Shelf.destroyToken(a.card, ha);
            Shelf.destroyToken(b.card, hb);
        }
    }

    @Test
    @Timeout(value = 15, unit = TimeUnit.SECONDS, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
    void filesStoredByThreadsOnOneTokenKeepTheirOwnBytes() throws Exception {
        final int workers = 4;
        try (SimToken t = SimToken.start("java")) {
            long h = Shelf.createToken(t.card);
            Shelf.Login(t.card, h, "1234".toCharArray());
            Shelf.openDir(t.card, h, "c0", true);
            ExecutorService pool = Executors.newFixedThreadPool(workers + 1);
            try {
                List<Future<?>> jobs = new ArrayList<>();
                for (int w = 0; w < workers; w++) {
                    final int worker = w;
                    jobs.add(pool.submit(() -> {
                        // Every worker its own key-container file in the one open directory; the
                        // first store creates it, the later ones overwrite it.
                        for (int round = 0; round < ROUNDS; round++)
                            Shelf.storeFile(t.card, h, 0xF001 + worker, content(worker, round), false);
                    }));
                }
                // Meanwhile logins and logouts: a login's challenge, selection and answer are
                // one exchange with the card, which no store may split.
                jobs.add(pool.submit(() -> {
                    for (int round = 0; round < ROUNDS; round++) {
                        Shelf.Login(t.card, h, "1234".toCharArray());
                        Shelf.Logout(t.card, h);
                    }
                }));
                for (Future<?> f : jobs) f.get(10, TimeUnit.SECONDS);
            } finally {
                pool.shutdownNow();
            }
            for (int w = 0; w < workers; w++) {
                byte[] want = content(w, ROUNDS - 1);
                byte[] out = new byte[want.length];
                Shelf.readFile(t.card, h, 0xF001 + w, out.length, out);
                assertArrayEquals(want, out, "file F00" + (w + 1));
            }
            Shelf.destroyToken(t.card, h);
        }
    }

    /** destroyToken while another thread's call is inside the card: it waits for that call to end. */
    @Test
    @Timeout(value = 60, unit = TimeUnit.SECONDS)
    void destroyWaitsForTheCallInsideTheToken() throws Exception {
        try (SimToken t = SimToken.start("java")) {
            GateCard gate = t.gated();
            long h = Shelf.createToken(gate);
            ExecutorService pool = Executors.newFixedThreadPool(2);
            try {
                gate.arm();
                Future<?> call = pool.submit(() -> Shelf.openDir(gate, h, "5", true));
                assertTrue(gate.awaitEntered(20), "the call never reached the card");
                Future<?> destroy = pool.submit(() -> Shelf.destroyToken(gate, h));
                // Whatever the scheduling, the destruction cannot end while the call is held.
                Thread.sleep(200);
                assertFalse(destroy.isDone(), "the token was destroyed under a running call");
                gate.release();
                call.get(30, TimeUnit.SECONDS);  // ran whole, on a live token
                destroy.get(30, TimeUnit.SECONDS);
            } finally {
                gate.release();
                pool.shutdownNow();
            }
            KeyShelfLibrary.assertUnknownError("destroyed", () -> Shelf.getDirList(gate, h));
            long again = Shelf.createToken(t.card);
            assertEquals("5", Shelf.getDirList(t.card, again));
            Shelf.destroyToken(t.card, again);
        }
    }

    /**
     * Tokens created and destroyed on several threads at once, with no token living
     * throughout: the module is released and made anew under the calls.
     */
    @Test
    @Timeout(value = 90, unit = TimeUnit.SECONDS)
    void tokensComeAndGoOnManyThreads() throws Exception {
        final int workers = 4, rounds = 8;
        List<SimToken> tokens = new ArrayList<>();
        try {
            for (int w = 0; w < workers; w++) tokens.add(SimToken.start(w % 2 == 0 ? "java" : "heron", "--serial", "0" + w));
            ExecutorService pool = Executors.newFixedThreadPool(workers);
            try {
                List<Future<?>> jobs = new ArrayList<>();
                for (int w = 0; w < workers; w++) {
                    final SimToken t = tokens.get(w);
                    final String serial = w + "\\";
                    jobs.add(pool.submit(() -> {
                        for (int r = 0; r < rounds; r++) {
                            long h = Shelf.createToken(t.card);
                            assertEquals(serial, Shelf.getTokenSerial(t.card, h));
                            Shelf.destroyToken(t.card, h);
                            // Never given to a token another thread creates meanwhile.
                            KeyShelfLibrary.assertUnknownError("destroyed handle", () -> Shelf.getTokenSerial(t.card, h));
                        }
                        return null;
                    }));
                }
                for (Future<?> f : jobs) f.get(80, TimeUnit.SECONDS);
            } finally {
                pool.shutdownNow();
            }
        } finally {
            for (SimToken t : tokens) t.close();
        }
    }

    private static byte[] content(int worker, int round) {
        byte[] b = new byte[60];
        for (int i = 0; i < b.length; i++) b[i] = (byte) (worker * 17 + round * 5 + i);
        return b;
    }
}
