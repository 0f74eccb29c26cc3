package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
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
@Tag("store")
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
            KeyShelfJx.openDir(t.card, h, name, true);
        }
    }

    private static void checkDirs(SimToken t, long h, int workers) {
        List<String> want = new ArrayList<>();
        for (int w = 0; w < workers; w++)
            for (int r = 0; r < ROUNDS; r++) want.add(dirName(w, r));
        List<String> got = new ArrayList<>(List.of(KeyShelfJx.getDirList(t.card, h).split("\\\\")));
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
            long hs = KeyShelfJx.createToken(shared.card);
            long ha = KeyShelfJx.createToken(a.card);
            long hb = KeyShelfJx.createToken(b.card);
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
                String serial = KeyShelfJx.getTokenSerial(shared.card, hs);
                for (int i = 0; i < 50; i++) assertEquals(serial, KeyShelfJx.getTokenSerial(shared.card, hs));
                for (Future<?> f : jobs) f.get(10, TimeUnit.SECONDS);
            } finally {
                pool.shutdownNow();
            }
            checkDirs(shared, hs, workers);
            assertEquals(dirName(0, 0), KeyShelfJx.getDirList(a.card, ha).split("\\\\")[0]);
            assertEquals(ROUNDS, KeyShelfJx.getDirList(b.card, hb).split("\\\\").length);
            KeyShelfJx.destroyToken(shared.card, hs);
            KeyShelfJx.destroyToken(a.card, ha);
            KeyShelfJx.destroyToken(b.card, hb);
        }
    }

    @Test
    @Timeout(value = 15, unit = TimeUnit.SECONDS, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
    void filesStoredByThreadsOnOneTokenKeepTheirOwnBytes() throws Exception {
        org.junit.jupiter.api.Assumptions.assumeFalse(KeyShelfLibrary.pinPending(),
                "the first store of a key-container file needs the PIN facets");
        final int workers = 4;
        try (SimToken t = SimToken.start("java")) {
            long h = KeyShelfJx.createToken(t.card);
            KeyShelfJx.Login(t.card, h, "1234".toCharArray());
            KeyShelfJx.openDir(t.card, h, "c0", true);
            ExecutorService pool = Executors.newFixedThreadPool(workers + 1);
            try {
                List<Future<?>> jobs = new ArrayList<>();
                for (int w = 0; w < workers; w++) {
                    final int worker = w;
                    jobs.add(pool.submit(() -> {
                        // Every worker its own key-container file in the one open directory; the
                        // first store creates it, the later ones overwrite it.
                        for (int round = 0; round < ROUNDS; round++)
                            KeyShelfJx.storeFile(t.card, h, 0xF001 + worker, content(worker, round), false);
                    }));
                }
                // Meanwhile logins and logouts: a login's challenge, selection and answer are
                // one exchange with the card, which no store may split.
                jobs.add(pool.submit(() -> {
                    for (int round = 0; round < ROUNDS; round++) {
                        KeyShelfJx.Login(t.card, h, "1234".toCharArray());
                        KeyShelfJx.Logout(t.card, h);
                    }
                }));
                for (Future<?> f : jobs) f.get(10, TimeUnit.SECONDS);
            } finally {
                pool.shutdownNow();
            }
            for (int w = 0; w < workers; w++) {
                byte[] want = content(w, ROUNDS - 1);
                byte[] out = new byte[want.length];
                KeyShelfJx.readFile(t.card, h, 0xF001 + w, out.length, out);
                assertArrayEquals(want, out, "file F00" + (w + 1));
            }
            KeyShelfJx.destroyToken(t.card, h);
        }
    }

    private static byte[] content(int worker, int round) {
        byte[] b = new byte[60];
        for (int i = 0; i < b.length; i++) b[i] = (byte) (worker * 17 + round * 5 + i);
        return b;
    }
}
