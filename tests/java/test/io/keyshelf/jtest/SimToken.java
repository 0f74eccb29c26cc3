package io.keyshelf.jtest;

import java.io.IOException;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import javax.smartcardio.CardException;
import org.junit.jupiter.api.Assumptions;

/**
 * One simulated token for the key-store tests: the simulator process and a card of
 * the tests' own linked to it, with the simulator's inspection requests (its file
 * tree and its command count) at hand. The card is bound (Shelf.bind) to a card
 * service over the same link, which libKeyShelf gets in its place. Loads the JVM's
 * deliverable on first use.
 */
final class SimToken implements AutoCloseable {
    final CardSimProcess process;
    final VpcdCard card;
    /** The card service over the same link, each command's bytes sent unchanged. */
    final OcfService service;

    private SimToken(CardSimProcess process, VpcdCard card) {
        this.process = process;
        this.card = card;
        this.service = new OcfService(OcfService.simulator(card));
        Shelf.bind(card, service);
    }

    /** A card in front of this one that holds one command at its gate (bound to a service over it). */
    GateCard gated() {
        GateCard gate = new GateCard(card);
        Shelf.bind(gate, new OcfService(OcfService.card(gate)));
        return gate;
    }

    static synchronized void loadLibrary() {
        KeyShelfLibrary.load();
    }

    /** Starts `cardsim_server --card kind` with the options; skipped where no simulator was built. */
    static SimToken start(String kind, String... options) throws IOException, CardException {
        Assumptions.assumeTrue(CardSimProcess.executable().isPresent(),
                "no card simulator: system property " + CardSimProcess.PROPERTY + " is not set");
        loadLibrary();
        CardSimProcess p = CardSimProcess.start(kind, options);
        try {
            return new SimToken(p, p.connect());
        } catch (CardException | RuntimeException e) {
            p.close();
            throw e;
        }
    }

    long commands() throws CardException {
        return card.commandCount();
    }

    String tree() throws CardException {
        return card.inspectTree();
    }

    /** One file of the store as the card holds it: its size and access bytes. */
    record CardFile(int size, String access) {}

    /** The file E00E/0B00/dir/file as the simulator holds it, or null when it has none. */
    CardFile storeFile(int dir, int file) throws CardException {
        // The Java and Heron applets keep the store below their own folder 3F00/6666/5000.
        return storeFileUnder(new String[] {"3F00/", "6666/", "5000/"}, dir, file);
    }

    /** The file home/E00E/0B00/dir/file, home given as the dump's folder names from 3F00 down. */
    CardFile storeFileUnder(String[] home, int dir, int file) throws CardException {
        // Lines of the dump are indented two spaces per level below 3F00.
        String[] lines = tree().split("\n");
        String[] want = java.util.Arrays.copyOf(home, home.length + 3);
        want[home.length] = "E00E/";
        want[home.length + 1] = "0B00/";
        want[home.length + 2] = String.format("%04X/", dir);
        int level = 0;
        for (String line : lines) {
            int depth = (line.length() - line.stripLeading().length()) / 2;
            String body = line.strip();
            if (depth < level) return null;  // left the folder we were in
            if (level < want.length) {
                if (depth == level && body.startsWith(want[level])) level++;
                continue;
            }
            if (depth != level) continue;
            Matcher m = FILE_LINE.matcher(body);
            if (m.matches() && Integer.parseInt(m.group(1), 16) == file)
                return new CardFile(Integer.parseInt(m.group(2)), m.group(3).replace(" ", ""));
        }
        return null;
    }

    private static final Pattern FILE_LINE = Pattern.compile("([0-9A-F]{4}) \\((\\d+)\\) access ?([0-9A-F ]*)");

    @Override
    public void close() {
        Shelf.unbind(card);
        try {
            card.close();
        } finally {
            process.close();
        }
    }
}
