package io.keyshelf.jtest;

import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.atomic.AtomicLong;

/**
 * A soak of libKeyShelfJx over the card simulator: THREADS threads, each with a
 * token of its own on a simulator process of its own (Java and Heron in turn),
 * make CALLS native calls between them, cycling through all thirteen in an order
 * that keeps each valid: create, login, open or create, store, size, read, serial,
 * directory list, delete, change PIN, logout, close, destroy. Every read is checked
 * against what was stored. Reports calls per second and the process's resident
 * memory after setting up, at 10 % of the calls and at the end.
 *
 * <p>Properties: {@code bench.threads} (8), {@code bench.calls} (1000000),
 * {@code keyshelf.keyshelfJxLibrary}, {@code keyshelf.cardsim}.
 */
public final class KeyShelfSoak {
    private static final char[] PIN = "1234".toCharArray();

    private KeyShelfSoak() {}

    static long rssKiB() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/status")))
            if (line.startsWith("VmRSS:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        return -1;
    }

    public static void main(String[] args) throws Exception {
        final int threads = Integer.getInteger("bench.threads", 8);
        final long calls = Long.getLong("bench.calls", 1_000_000L);
        System.load(System.getProperty("keyshelf.keyshelfJxLibrary"));

        List<CardSimProcess> sims = new ArrayList<>();
        List<VpcdCard> cards = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            CardSimProcess p = CardSimProcess.start(t % 2 == 0 ? "java" : "heron", "--serial", "0" + t);
            sims.add(p);
            cards.add(p.connect());
        }
        final AtomicLong made = new AtomicLong();
        final AtomicLong completed = new AtomicLong();
        final AtomicLong failures = new AtomicLong();
        final long[] rssAtTenth = {-1};
        final long tenth = calls / 10;
        System.gc();
        final long rssStart = rssKiB();
        final long start = System.nanoTime();
        List<Thread> workers = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            final VpcdCard card = cards.get(t);
            final String dir = Integer.toHexString(0x10 + t);
            final int worker = t;
            Thread w = new Thread(() -> {
                byte[] data = new byte[60];
                long round = 0;
                while (true) {
                    // One cycle is thirteen calls; a thread stops between cycles.
                    long before = made.getAndAdd(13);
                    if (before >= calls) break;
                    if (before < tenth && before + 13 >= tenth) {
                        try {
                            rssAtTenth[0] = rssKiB();
                        } catch (IOException e) {
                            failures.incrementAndGet();
                        }
                    }
                    try {
                        for (int i = 0; i < data.length; i++) data[i] = (byte) (worker * 31 + round * 7 + i);
                        long h = KeyShelfJx.createToken(card);
                        KeyShelfJx.Login(card, h, PIN);
                        KeyShelfJx.openDir(card, h, dir, true);
                        KeyShelfJx.storeFile(card, h, 0xF001, data, false);
                        int size = KeyShelfJx.getFileSize(card, h, 0xF001);
                        byte[] back = new byte[data.length];
                        KeyShelfJx.readFile(card, h, 0xF001, back.length, back);
                        if (size != 64 || !Arrays.equals(back, data)) failures.incrementAndGet();
                        KeyShelfJx.getTokenSerial(card, h);
                        KeyShelfJx.getDirList(card, h);
                        KeyShelfJx.deleteFile(card, h, 0xF001);
                        KeyShelfJx.changePin(card, h, PIN, PIN);
                        KeyShelfJx.Logout(card, h);
                        KeyShelfJx.closeDir(card, h, false);
                        KeyShelfJx.destroyToken(card, h);
                        completed.addAndGet(13);
                    } catch (Exception e) {
                        if (failures.incrementAndGet() < 5) e.printStackTrace();
                    }
                    round++;
                }
            }, "soak-" + t);
            workers.add(w);
            w.start();
        }
        for (Thread w : workers) w.join();
        final double seconds = (System.nanoTime() - start) / 1e9;
        final long rssEnd = rssKiB();
        final long done = completed.get();
        System.out.printf("threads %d, native calls %d (in whole cycles) in %.1f s: %.0f calls/s; failures %d%n", threads, done, seconds,
                done / seconds, failures.get());
        System.out.printf("resident memory: start %d KiB, at 10 %% %d KiB, end %d KiB%n", rssStart, rssAtTenth[0],
                rssEnd);
        for (VpcdCard c : cards) c.close();
        for (CardSimProcess p : sims) p.close();
        if (failures.get() != 0) System.exit(1);
    }
}
