package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.FileNotFoundException;
import java.io.IOException;
import java.nio.file.Path;
import java.util.concurrent.TimeUnit;
import javax.smartcardio.Card;
import javax.smartcardio.CardTerminal;
import javax.smartcardio.TerminalFactory;
import org.junit.jupiter.api.Assumptions;

/**
 * The whole key store through the real PC/SC stack: a private pcscd with the vpcd
 * driver, the card simulator process plugged into it, and
 * TerminalFactory.getDefault(); run by PcscRigTest on its rig.
 */
final class PcscStoreTest {
    static final String SIM_READER = "KeyShelf Test PCD 00 01";

    private PcscStoreTest() {}

    /** The simulator, plugged into the rig's second slot (PORT+1); ends when its standard input closes. */
    static Process startSimulator(int slotPort) throws IOException {
        Path exe = CardSimProcess.executable().orElse(null);
        Assumptions.assumeTrue(exe != null, "no card simulator built");
        KeyShelfLibrary.load();
        return new ProcessBuilder(exe.toString(), "--card", "java", "--vpcd", "127.0.0.1:" + slotPort, "--stdin-lifetime")
                .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                .redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
    }

    static void stopSimulator(Process sim) throws InterruptedException, IOException {
        if (sim == null) return;
        sim.getOutputStream().close();
        sim.destroy();
        if (!sim.waitFor(5, TimeUnit.SECONDS)) sim.destroyForcibly();
    }

    static Card connectSim() throws Exception {
        return connect(SIM_READER);
    }

    /** The card in the reader of that name, waiting for both a while. */
    static Card connect(String reader) throws Exception {
        TerminalFactory factory = TerminalFactory.getDefault();
        assertEquals("PC/SC", factory.getType(), "SunPCSC is not available: is libpcsclite.so.1 installed?");
        CardTerminal terminal = null;
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (terminal == null && System.nanoTime() < deadline) {
            for (CardTerminal t : factory.terminals().list())
                if (t.getName().equals(reader)) terminal = t;
            if (terminal == null) Thread.sleep(100);
        }
        assertNotNull(terminal, "pcscd shows no reader named " + reader);
        assertTrue(terminal.waitForCardPresent(10_000), "the simulator never showed in " + reader);
        return terminal.connect("*");
    }

    /** Through the JVM's deliverable: libKeyShelf gets a card service over the PC/SC card. */
    static void keyStoreSession() throws Exception {
        Card card = connectSim();
        OcfService service = new OcfService(OcfService.card(card));
        Shelf.bind(card, service);
        try {
            long h = Shelf.createToken(card);
            try {
                assertTrue(Shelf.getTokenSerial(card, h).matches("([0-9a-f]{1,2}\\\\)+"));
                Shelf.openDir(card, h, "a1", true);
                Shelf.openDir(card, h, "a2", true);
                assertEquals("a1\\a2", Shelf.getDirList(card, h));
                assertFails(FileNotFoundException.class, "File not found", () -> Shelf.getFileSize(card, h, 0x1234));
                byte[] data = new byte[700];
                for (int i = 0; i < data.length; i++) data[i] = (byte) i;
                Shelf.storeFile(card, h, 0xF003, data, false);
                assertEquals(2048, Shelf.getFileSize(card, h, 0xF003));
                byte[] out = new byte[700];
                Shelf.readFile(card, h, 0xF003, out.length, out);
                assertArrayEquals(data, out);
                Shelf.closeDir(card, h, true);
                assertEquals("a1", Shelf.getDirList(card, h));
            } finally {
                Shelf.destroyToken(card, h);
            }
            if (Shelf.deliverable() == Deliverable.KEYSHELF) assertTrue(service.commands.get() > 0);
        } finally {
            Shelf.unbind(card);
            card.disconnect(false);
        }
    }
}
