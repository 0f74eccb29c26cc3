package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.io.FileNotFoundException;
import java.io.IOException;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.concurrent.TimeUnit;
import javax.smartcardio.Card;
import javax.smartcardio.CardTerminal;
import javax.smartcardio.TerminalFactory;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * The whole key store through the real PC/SC stack: a private pcscd with the vpcd
 * driver, the card simulator process plugged into it, and
 * TerminalFactory.getDefault(). Skipped, with the reason, only where pcscd cannot start.
 */
@Tag("pcsc")
class PcscStoreTest {
    private static final String READER = "KeyShelf Test PCD 00 00";
    private static String rig;
    private static Path dir;
    private static Process sim;

    private static String property(String name) {
        String v = System.getProperty(name);
        if (v == null || v.isEmpty()) fail("system property " + name + " is not set: the harness is mis-wired");
        return v;
    }

    private static void run(String... command) throws IOException, InterruptedException {
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        p.getOutputStream().close();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (!p.waitFor(30, TimeUnit.SECONDS)) {
            p.destroyForcibly();
            throw new IOException(String.join(" ", command) + " did not finish");
        }
        if (p.exitValue() != 0) throw new IOException(out.trim());
    }

    private static int twoFreePorts() throws IOException {
        for (int attempt = 0; attempt < 20; attempt++) {
            int p;
            try (ServerSocket s = new ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
                p = s.getLocalPort();
            }
            if (p >= 65535) continue;
            try (ServerSocket s = new ServerSocket(p + 1)) {
                if (s.isBound()) return p;
            } catch (IOException busy) {
                // try another pair
            }
        }
        throw new IOException("no two consecutive free ports");
    }

    @BeforeAll
    static void startRigAndSimulator() throws Exception {
        Path exe = CardSimProcess.executable().orElse(null);
        Assumptions.assumeTrue(exe != null, "no card simulator built");
        KeyShelfLibrary.load();
        rig = property("keyshelf.pcscRig");
        dir = Path.of(property("keyshelf.pcscRigDir")).toAbsolutePath();
        int port = twoFreePorts();
        try {
            run("bash", rig, "start", dir.toString(), Integer.toString(port));
        } catch (IOException e) {
            rig = null;
            Assumptions.abort("pcscd cannot start on this machine: " + e.getMessage());
        }
        sim = new ProcessBuilder(exe.toString(), "--card", "java", "--vpcd", "127.0.0.1:" + port, "--stdin-lifetime")
                .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                .redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
    }

    @AfterAll
    static void stop() throws Exception {
        if (sim != null) {
            sim.getOutputStream().close();  // --stdin-lifetime: it ends on end of file
            sim.destroy();
            if (!sim.waitFor(5, TimeUnit.SECONDS)) sim.destroyForcibly();
        }
        if (rig != null) run("bash", rig, "stop", dir.toString());
    }

    private static Card connect() throws Exception {
        TerminalFactory factory = TerminalFactory.getDefault();
        assertEquals("PC/SC", factory.getType(), "SunPCSC is not available: is libpcsclite.so.1 installed?");
        CardTerminal terminal = null;
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (terminal == null && System.nanoTime() < deadline) {
            for (CardTerminal t : factory.terminals().list())
                if (t.getName().equals(READER)) terminal = t;
            if (terminal == null) Thread.sleep(100);
        }
        assertNotNull(terminal, "pcscd shows no reader named " + READER);
        assertTrue(terminal.waitForCardPresent(10_000), "the simulator never showed in " + READER);
        return terminal.connect("*");
    }

    @Test
    void keyStoreSessionThroughPcscd() throws Exception {
        Card card = connect();
        try {
            long h = KeyShelfJx.createToken(card);
            try {
                assertTrue(KeyShelfJx.getTokenSerial(card, h).matches("([0-9a-f]{1,2}\\\\)+"));
                KeyShelfJx.openDir(card, h, "a1", true);
                KeyShelfJx.openDir(card, h, "a2", true);
                assertEquals("a1\\a2", KeyShelfJx.getDirList(card, h));
                assertFails(FileNotFoundException.class, "File not found", () -> KeyShelfJx.getFileSize(card, h, 0x1234));
                if (!KeyShelfLibrary.pinPending()) {
                    byte[] data = new byte[700];
                    for (int i = 0; i < data.length; i++) data[i] = (byte) i;
                    KeyShelfJx.storeFile(card, h, 0xF003, data, false);
                    assertEquals(2048, KeyShelfJx.getFileSize(card, h, 0xF003));
                    byte[] out = new byte[700];
                    KeyShelfJx.readFile(card, h, 0xF003, out.length, out);
                    assertArrayEquals(data, out);
                }
                KeyShelfJx.closeDir(card, h, true);
                assertEquals("a1", KeyShelfJx.getDirList(card, h));
            } finally {
                KeyShelfJx.destroyToken(card, h);
            }
        } finally {
            card.disconnect(false);
        }
    }
}
