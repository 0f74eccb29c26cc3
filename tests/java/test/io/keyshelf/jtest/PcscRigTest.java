package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import javax.smartcardio.Card;
import javax.smartcardio.CardTerminal;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;
import javax.smartcardio.TerminalFactory;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * The real PC/SC stack: a private pcscd with the vpcd reader driver, a fake card
 * that plugs into vpcd, and Java's TerminalFactory.getDefault() (SunPCSC over
 * libpcsclite) reaching it; then the product transport over that real Card.
 * Skipped, with the reason, only where pcscd cannot start on this machine.
 */
@Tag("pcsc")
class PcscRigTest {
    private static final String READER = "KeyShelf Test PCD";
    private static final byte[] ATR = Hex.bytes("3B 80 80 01 01");
    private static PcscRig pcscd;
    private static int port;
    private static FakeVpicc fakeCard;
    private static Process sim;

    @BeforeAll
    static void startPcscd() throws Exception {
        pcscd = PcscRig.start();
        port = pcscd.port;
        sim = PcscStoreTest.startSimulator(port + 1);
        fakeCard = FakeVpicc.connectingTo(port, 5000, ATR,
                // Echo INS P1 P2 in front of 9000, so each answer names its command.
                c -> Hex.concat(new byte[] {c[1], c[2], c[3]}, Hex.bytes("90 00")));
    }

    @AfterAll
    static void stopPcscd() throws Exception {
        if (fakeCard != null) fakeCard.close();
        PcscStoreTest.stopSimulator(sim);
        if (pcscd != null) pcscd.stop();
    }

    private static Card connectThroughPcsc() throws Exception {
        TerminalFactory factory = TerminalFactory.getDefault();
        assertEquals("PC/SC", factory.getType(), "SunPCSC is not available: is libpcsclite.so.1 installed?");
        CardTerminal terminal = null;
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
        while (terminal == null && System.nanoTime() < deadline) {
            // The driver's first slot ("... 00 00") is the one on PORT, where the fake card plugs in.
            for (CardTerminal t : factory.terminals().list()) {
                if (t.getName().equals(READER + " 00 00")) terminal = t;
            }
            if (terminal == null) Thread.sleep(100);
        }
        assertNotNull(terminal, "pcscd shows no reader named " + READER);
        assertTrue(terminal.waitForCardPresent(10_000), "the fake card never showed in " + terminal.getName()
                + (fakeCard.failure() != null ? ": " + fakeCard.failure() : ""));
        return terminal.connect("*");
    }

    private static List<String> apdusSeen() {
        return fakeCard.received().stream().filter(m -> m.length > 1).map(Hex::text).collect(Collectors.toList());
    }

    @Test
    void apduTravelsThroughPcscdAndTheTransport() throws Exception {
        Card card = connectThroughPcsc();
        try {
            assertEquals(Hex.text(ATR), Hex.text(card.getATR().getBytes()));

            ResponseAPDU r = card.getBasicChannel().transmit(new CommandAPDU(Hex.bytes("00 A4 04 00 05 A0 00 00 00 01 00")));
            assertEquals("A404009000", Hex.text(r.getBytes()));
            assertTrue(apdusSeen().contains("00A4040005A00000000100"), apdusSeen().toString());

            long handle = SenderBridge.open(card);
            try {
                assertEquals("B000109000", Hex.text(SenderBridge.send(handle, card, Hex.bytes("00 B0 00 10 00 08"))));
                assertEquals(Hex.text(ATR), Hex.text(SenderBridge.atr(handle, card)));
            } finally {
                SenderBridge.close(handle);
            }
            assertTrue(apdusSeen().contains("00B0001008"), apdusSeen().toString());
        } finally {
            card.disconnect(false);
        }
    }

    /** The whole key store through pcscd: the simulated Java token in the driver's second slot. */
    @Test
    void keyStoreSessionThroughPcscd() throws Exception {
        PcscStoreTest.keyStoreSession();
    }

    /** The key store on a DataStore token through pcscd: it takes the second slot for this test. */
    @Test
    void dataStoreSessionThroughPcscd() throws Exception {
        PcscDataStoreSession.stop(sim);
        sim = null;
        PcscDataStoreSession.awaitEmptySlot();
        Process dataStore = PcscDataStoreSession.startSimulator(port + 1);
        try {
            PcscDataStoreSession.run();
        } finally {
            PcscDataStoreSession.stop(dataStore);
            PcscDataStoreSession.awaitEmptySlot();
            sim = PcscStoreTest.startSimulator(port + 1);
        }
    }
}
