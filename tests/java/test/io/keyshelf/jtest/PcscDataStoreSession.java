package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.FileNotFoundException;
import java.io.IOException;
import java.nio.file.Path;
import java.security.UnrecoverableKeyException;
import java.util.concurrent.TimeUnit;
import javax.smartcardio.Card;
import javax.smartcardio.CardTerminal;
import javax.smartcardio.TerminalFactory;
import org.junit.jupiter.api.Assumptions;

/**
 * The key store on a simulated DataStore token through the real PC/SC stack: the
 * simulator in the rig's second slot for the length of one session. Run by
 * PcscRigTest on its rig.
 */
final class PcscDataStoreSession {
    private PcscDataStoreSession() {}

    /** The DataStore simulator, plugged into the rig's second slot; ends when its standard input closes. */
    static Process startSimulator(int slotPort) throws IOException {
        Path exe = CardSimProcess.executable().orElse(null);
        Assumptions.assumeTrue(exe != null, "no card simulator built");
        KeyShelfLibrary.load();
        return new ProcessBuilder(exe.toString(), "--card", "datastore", "--platform", "--keep-pin-on-platform",
                "--vpcd", "127.0.0.1:" + slotPort, "--stdin-lifetime")
                .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                .redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
    }

    /** Waits until pcscd sees the second slot empty, so the next card there is the next simulator. */
    static void awaitEmptySlot() throws Exception {
        TerminalFactory factory = TerminalFactory.getDefault();
        for (CardTerminal t : factory.terminals().list())
            if (t.getName().equals(PcscStoreTest.SIM_READER))
                assertTrue(t.waitForCardAbsent(10_000), "the simulator never left " + t.getName());
    }

    private static byte[] pattern(int length, int seed) {
        byte[] b = new byte[length];
        for (int i = 0; i < length; i++) b[i] = (byte) (seed * 17 + i);
        return b;
    }

    static void run() throws Exception {
        Card card = PcscStoreTest.connectSim();
        OcfService service = new OcfService(OcfService.card(card));
        Shelf.bind(card, service);
        byte[] header = pattern(700, 3);
        byte[] masks = pattern(10, 1);
        try {
            long h = Shelf.createToken(card);
            try {
                assertTrue(Shelf.getTokenSerial(card, h).matches("([0-9a-f]{1,2}\\\\){8}"));
                Shelf.Login(card, h, "1234".toCharArray());
                Shelf.openDir(card, h, "cc00", true);
                Shelf.openDir(card, h, "1", true);
                assertEquals("cc00\\1", Shelf.getDirList(card, h));
                Shelf.storeFile(card, h, 0xF003, header, false);
                Shelf.storeFile(card, h, 0xF001, masks, false);
                assertEquals(2048, Shelf.getFileSize(card, h, 0xF003));
                assertEquals(64, Shelf.getFileSize(card, h, 0xF001));
                assertFails(FileNotFoundException.class, "File not found", () -> Shelf.getFileSize(card, h, 0xF005));
                Shelf.openDir(card, h, "cc00", false);
                Shelf.closeDir(card, h, true);
                assertEquals("1", Shelf.getDirList(card, h));
                // Through a card service the logout reaches the card in the six bytes it was built as.
                Shelf.Logout(card, h);
            } finally {
                Shelf.destroyToken(card, h);
            }
            long h2 = Shelf.createToken(card);
            try {
                Shelf.Login(card, h2, "1234".toCharArray());
                Shelf.openDir(card, h2, "1", false);
                byte[] out = new byte[header.length];
                Shelf.readFile(card, h2, 0xF003, out.length, out);
                assertArrayEquals(header, out);
                out = new byte[masks.length];
                Shelf.readFile(card, h2, 0xF001, out.length, out);
                assertArrayEquals(masks, out);
                // A PIN change through the stack: a wrong old PIN changes nothing, the old one is wrong after.
                assertFails(UnrecoverableKeyException.class, "Wrong pin",
                        () -> Shelf.changePin(card, h2, "9999".toCharArray(), "5678".toCharArray()));
                Shelf.changePin(card, h2, "1234".toCharArray(), "5678".toCharArray());
                Shelf.Logout(card, h2);
                assertFails(UnrecoverableKeyException.class, "Wrong pin", () -> Shelf.Login(card, h2, "1234".toCharArray()));
                Shelf.Login(card, h2, "5678".toCharArray());
            } finally {
                Shelf.destroyToken(card, h2);
            }
            if (Shelf.deliverable() == Deliverable.KEYSHELF) assertTrue(service.commands.get() > 0);
        } finally {
            Shelf.unbind(card);
            card.disconnect(false);
        }
    }

    /** Stops a simulator process and waits for it. */
    static void stop(Process sim) throws InterruptedException, IOException {
        PcscStoreTest.stopSimulator(sim);
        if (sim != null) sim.waitFor(5, TimeUnit.SECONDS);
    }
}
