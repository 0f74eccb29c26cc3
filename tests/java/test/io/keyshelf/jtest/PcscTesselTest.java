package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertEquals;

import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.nio.file.Path;
import java.security.UnrecoverableKeyException;
import javax.smartcardio.Card;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * A simulated Tessel token through the real PC/SC stack: a private pcscd with the
 * vpcd driver, the simulator plugged into its second slot, TerminalFactory. Runs in
 * a JVM of its own (tag pcsc-tessel) with a rig directory of its own.
 */
@Tag("pcsc-tessel")
class PcscTesselTest {
    private static PcscRig pcscd;
    private static Process sim;

    @BeforeAll
    static void startRig() throws Exception {
        Path exe = CardSimProcess.executable().orElse(null);
        Assumptions.assumeTrue(exe != null, "no card simulator built");
        pcscd = PcscRig.start();
        int port = pcscd.port;
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
        if (pcscd != null) pcscd.stop();
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
                KeyShelfStoreTest.storeAndReadBack(card, h, 0xF003, data, 2048);
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
