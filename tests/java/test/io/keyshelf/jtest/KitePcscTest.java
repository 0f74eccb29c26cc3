package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.io.IOException;
import java.nio.file.Path;
import java.security.UnrecoverableKeyException;
import java.util.concurrent.TimeUnit;
import javax.smartcardio.Card;
import javax.smartcardio.CardTerminal;
import javax.smartcardio.TerminalFactory;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * The Kite tokens through the real PC/SC stack: a private pcscd with the vpcd
 * driver, the simulated Kite token of each model plugged into its second slot in
 * turn, and TerminalFactory.getDefault(). Each token is recognised by the ATR
 * pcscd reports; the store, login, PIN change and logout run over that Card.
 */
@Tag("kite-pcsc")
class KitePcscTest {
    private static PcscRig pcscd;
    private static int port;

    @BeforeAll
    static void startPcscd() throws Exception {
        pcscd = PcscRig.start();
        port = pcscd.port;
    }

    @AfterAll
    static void stopPcscd() throws Exception {
        if (pcscd != null) pcscd.stop();
    }

    private static Process startSimulator(String kind, boolean fips) throws IOException {
        Path exe = CardSimProcess.executable().orElse(null);
        Assumptions.assumeTrue(exe != null, "no card simulator built");
        KeyShelfLibrary.load();
        ProcessBuilder b = fips
                ? new ProcessBuilder(exe.toString(), "--card", kind, "--fips", "--vpcd", "127.0.0.1:" + (port + 1), "--stdin-lifetime")
                : new ProcessBuilder(exe.toString(), "--card", kind, "--vpcd", "127.0.0.1:" + (port + 1), "--stdin-lifetime");
        return b.redirectOutput(ProcessBuilder.Redirect.DISCARD).redirectError(ProcessBuilder.Redirect.INHERIT).start();
    }

    private static CardTerminal simReader() throws Exception {
        TerminalFactory factory = TerminalFactory.getDefault();
        assertEquals("PC/SC", factory.getType(), "SunPCSC is not available: is libpcsclite.so.1 installed?");
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (System.nanoTime() < deadline) {
            for (CardTerminal t : factory.terminals().list())
                if (t.getName().equals(PcscStoreTest.SIM_READER)) return t;
            Thread.sleep(100);
        }
        fail("pcscd shows no reader named " + PcscStoreTest.SIM_READER);
        return null;
    }

    @ParameterizedTest(name = "{0}, fips {1}")
    @CsvSource({
        "kite16, false, 3BE200FFC11031FE55C8029C",
        "kite32, false, 3BF29800FFC11031FE55C80315",
        "kite42, false, 3BF2180000C10A31FE55C80675",
        "kite42b, false, 3BF2180002C10A31FE58C80975",
        "kite42, true, 3BF2180000C10A31FE55C80675",
        "kite42b, true, 3BF2180002C10A31FE58C80975"})
    void theStoreThroughPcscd(String kind, boolean fips, String atr) throws Exception {
        CardTerminal reader = simReader();
        // The previous token leaves the slot before this one is plugged in.
        assertTrue(reader.waitForCardAbsent(10_000), "a card is still in " + reader.getName());
        Process sim = startSimulator(kind, fips);
        try {
            assertTrue(reader.waitForCardPresent(10_000), "the simulator never showed in " + reader.getName());
            Card card = reader.connect("*");
            try {
                assertEquals(atr, Hex.text(card.getATR().getBytes()).replace(" ", ""));
                long h = KeyShelfJx.createToken(card);
                try {
                    assertEquals("10\\20\\30\\40\\50\\60\\", KeyShelfJx.getTokenSerial(card, h));
                    assertFails(UnrecoverableKeyException.class, "Wrong pin", () -> KeyShelfJx.Login(card, h, "9999".toCharArray()));
                    KeyShelfJx.Login(card, h, "1234".toCharArray());
                    KeyShelfJx.openDir(card, h, "a1", true);
                    byte[] data = new byte[700];
                    for (int i = 0; i < data.length; i++) data[i] = (byte) (i * 5);
                    KeyShelfStoreTest.storeAndReadBack(card, h, 0xF003, data, 2048);
                    KeyShelfJx.changePin(card, h, "1234".toCharArray(), "56789".toCharArray());
                    KeyShelfJx.Logout(card, h);
                    assertFails(UnrecoverableKeyException.class, "Wrong pin", () -> KeyShelfJx.Login(card, h, "1234".toCharArray()));
                    KeyShelfJx.Login(card, h, "56789".toCharArray());
                    assertEquals("a1", KeyShelfJx.getDirList(card, h));
                    KeyShelfJx.closeDir(card, h, true);
                    assertNotNull(KeyShelfJx.getDirList(card, h));
                } finally {
                    KeyShelfJx.destroyToken(card, h);
                }
            } finally {
                card.disconnect(false);
            }
        } finally {
            PcscStoreTest.stopSimulator(sim);
        }
    }
}
