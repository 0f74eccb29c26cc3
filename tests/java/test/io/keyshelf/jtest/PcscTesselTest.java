package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.io.IOException;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.nio.file.Path;
import java.security.UnrecoverableKeyException;
import java.util.concurrent.TimeUnit;
import javax.smartcardio.Card;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * A simulated Tessel token through the real PC/SC stack: a private pcscd with the
 * vpcd driver, the simulator plugged into its second slot, TerminalFactory. Runs in
 * a JVM of its own (a rig directory of its own); elsewhere it is skipped.
 */
@Tag("pcsc")
class PcscTesselTest {
    static final String RIG_DIR = "keyshelf.pcscTesselRigDir";
    private static String rig;
    private static Path dir;
    private static Process sim;

    private static void run(String... command) throws IOException, InterruptedException {
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        p.getOutputStream().close();
        String out = new String(p.getInputStream().readAllBytes());
        if (!p.waitFor(30, TimeUnit.SECONDS)) p.destroyForcibly();
        if (p.exitValue() != 0) throw new IOException(out.trim());
    }

    /** A port P with P+1 free as well: vpcd takes P for its first slot and P+1 for its second. */
    private static int slotPorts() throws IOException {
        for (int attempt = 0; attempt < 20; attempt++) {
            int p;
            try (ServerSocket s = new ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
                p = s.getLocalPort();
            }
            if (p >= 65535) continue;
            try (ServerSocket next = new ServerSocket(p + 1)) {
                if (next.isBound()) return p;
            } catch (IOException busy) {
                // another pair
            }
        }
        throw new IOException("no two consecutive free ports");
    }

    @BeforeAll
    static void startRig() throws Exception {
        String d = System.getProperty(RIG_DIR, "");
        Assumptions.assumeFalse(d.isEmpty(), "runs in the JVM that has a Tessel rig of its own");
        rig = System.getProperty("keyshelf.pcscRig");
        dir = Path.of(d).toAbsolutePath();
        Path exe = CardSimProcess.executable().orElse(null);
        Assumptions.assumeTrue(exe != null, "no card simulator built");
        int port = slotPorts();
        try {
            run("bash", rig, "start", dir.toString(), Integer.toString(port));
        } catch (IOException e) {
            Assumptions.abort("pcscd cannot start on this machine: " + e.getMessage());
        }
        KeyShelfLibrary.load();
        sim = new ProcessBuilder(exe.toString(), "--card", "tessel", "--vpcd", "127.0.0.1:" + (port + 1),
                "--stdin-lifetime")
                .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                .redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
    }

    @AfterAll
    static void stopRig() throws Exception {
        PcscStoreTest.stopSimulator(sim);
        if (rig != null && dir != null) run("bash", rig, "stop", dir.toString());
    }

    @Test
    void keyStoreSessionOnATesselToken() throws Exception {
        Card card = PcscStoreTest.connectSim();
        try {
            long h = KeyShelfJx.createToken(card);
            try {
                assertEquals("54\\53\\0\\0\\12\\34\\56\\78\\", KeyShelfJx.getTokenSerial(card, h));
                assertFails(UnrecoverableKeyException.class, "Wrong pin",
                        () -> KeyShelfJx.Login(card, h, "0000".toCharArray()));
                KeyShelfJx.Login(card, h, "1234".toCharArray());
                KeyShelfJx.openDir(card, h, "c1", true);
                KeyShelfJx.openDir(card, h, "c2", true);
                assertEquals("c1\\c2", KeyShelfJx.getDirList(card, h));
                byte[] data = new byte[700];
                for (int i = 0; i < data.length; i++) data[i] = (byte) (i * 5);
                KeyShelfJx.storeFile(card, h, 0xF003, data, false);
                assertEquals(2048, KeyShelfJx.getFileSize(card, h, 0xF003));
                byte[] out = new byte[700];
                KeyShelfJx.readFile(card, h, 0xF003, out.length, out);
                assertArrayEquals(data, out);
                KeyShelfJx.changePin(card, h, "1234".toCharArray(), "24680".toCharArray());
                KeyShelfJx.Logout(card, h);
                KeyShelfJx.Login(card, h, TesselTicket.build(0x25, "24680"));
                KeyShelfJx.closeDir(card, h, true);
                assertEquals("c1", KeyShelfJx.getDirList(card, h));
            } finally {
                KeyShelfJx.destroyToken(card, h);
            }
        } finally {
            card.disconnect(false);
        }
    }
}
