package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.DataInputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import java.util.function.Function;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import javax.smartcardio.CardException;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The vpcd-framed card against a fake card thread, and the transport driving it. */
class VpcdCardTest {
    private static final byte[] ATR = Hex.bytes("3B 80 80 01 01");
    private FakeVpicc fake;
    private VpcdCard card;

    private VpcdCard connect(Function<byte[], byte[]> handler) throws Exception {
        fake = FakeVpicc.listening(ATR, handler);
        card = VpcdCard.connect("127.0.0.1", fake.port(), 5000);
        return card;
    }

    @AfterEach
    void tearDown() throws Exception {
        if (card != null) card.close();
        if (fake != null) fake.close();
    }

    private static List<String> texts(List<byte[]> messages) {
        return messages.stream().map(Hex::text).collect(Collectors.toList());
    }

    // The framing itself, byte for byte, against a bare socket: a fault shared by
    // both ends of the helpers would pass unseen otherwise.
    @Test
    void wireBytesAreTwoByteBigEndianLengthThenMessage() throws Exception {
        try (ServerSocket server = new ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
            byte[] longCommand = Hex.concat(Hex.bytes("00 D6 00 00 00 01 20"), Hex.filled(0x120, 0x11), Hex.bytes("00 00"));
            CompletableFuture<String> cardSide = CompletableFuture.supplyAsync(() -> {
                try (Socket s = server.accept()) {
                    s.setSoTimeout(5000);
                    DataInputStream in = new DataInputStream(s.getInputStream());
                    OutputStream out = s.getOutputStream();
                    StringBuilder seen = new StringBuilder();
                    seen.append(Hex.text(in.readNBytes(3))).append('|');   // 00 01 01 power on
                    seen.append(Hex.text(in.readNBytes(3))).append('|');   // 00 01 04 get ATR
                    out.write(Hex.bytes("00 05 3B 80 80 01 01"));
                    seen.append(Hex.text(in.readNBytes(6))).append('|');   // 00 04 00 A4 00 00
                    out.write(Hex.bytes("00 03 42 90 00"));
                    byte[] length = in.readNBytes(2);
                    seen.append(Hex.text(length)).append('|');
                    in.readNBytes(((length[0] & 0xFF) << 8) | (length[1] & 0xFF));
                    out.write(Hex.bytes("00 02 6A 82"));
                    seen.append(Hex.text(in.readNBytes(3)));               // 00 01 00 power off
                    return seen.toString();
                } catch (Exception e) {
                    return "card side failed: " + e;
                }
            });
            try (VpcdCard c = VpcdCard.connect("127.0.0.1", server.getLocalPort(), 5000)) {
                assertEquals("3B80800101", Hex.text(c.getATR().getBytes()));
                assertEquals("429000", Hex.text(c.getBasicChannel().transmit(new CommandAPDU(Hex.bytes("00 A4 00 00"))).getBytes()));
                assertEquals(0x6A82, c.getBasicChannel().transmit(new CommandAPDU(longCommand)).getSW());
            }
            assertEquals("000101|000104|000400A40000|0129|000100", cardSide.get(10, TimeUnit.SECONDS));
        }
    }

    @Test
    void connectPowersOnAndReadsTheAtr() throws Exception {
        connect(c -> Hex.bytes("90 00"));
        assertEquals(Hex.text(ATR), Hex.text(card.getATR().getBytes()));
        assertEquals(List.of("01", "04"), texts(fake.received()));
    }

    static Stream<Arguments> exchanges() {
        return Stream.of(
                Arguments.of("case 1", "00 A4 00 00", "90 00"),
                Arguments.of("case 4 with data back", "00 A4 04 00 02 3F 00 00", "6F 03 83 01 01 90 00"),
                Arguments.of("extended write", Hex.text(Hex.concat(Hex.bytes("00 D6 00 00 00 01 00"), Hex.filled(256, 0x5A))), "90 00"),
                Arguments.of("long answer", "00 B0 00 00 00", Hex.text(Hex.filled(256, 0xC3)) + "9000"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("exchanges")
    void commandGoesOutWholeAndTheAnswerComesBackWhole(String name, String command, String answer) throws Exception {
        connect(c -> Hex.bytes(answer));
        ResponseAPDU r = card.getBasicChannel().transmit(new CommandAPDU(Hex.bytes(command)));
        assertEquals(Hex.text(Hex.bytes(answer)), Hex.text(r.getBytes()));
        List<byte[]> got = fake.received();
        assertEquals(Hex.text(Hex.bytes(command)), Hex.text(got.get(got.size() - 1)));
    }

    static Stream<Arguments> brokenAnswers() {
        return Stream.of(
                Arguments.of("link dropped mid-command", (Function<byte[], byte[]>) c -> null),
                Arguments.of("one-byte answer", (Function<byte[], byte[]>) c -> Hex.bytes("90")),
                Arguments.of("empty answer", (Function<byte[], byte[]>) c -> new byte[0]));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("brokenAnswers")
    void answerWithoutStatusWordIsACardException(String name, Function<byte[], byte[]> handler) throws Exception {
        connect(handler);
        assertThrows(CardException.class, () -> card.getBasicChannel().transmit(new CommandAPDU(Hex.bytes("00 A4 00 00"))));
    }

    @Test
    void resetReadsTheAtrAgainAndDisconnectPowersOff() throws Exception {
        connect(c -> Hex.bytes("90 00"));
        card.reset();
        card.disconnect(false);
        assertThrows(IllegalStateException.class, card::getBasicChannel);
        fake.awaitReaderGone(5000);
        assertEquals(List.of("01", "04", "02", "04", "00"), texts(fake.received()));
        assertNull(fake.failure());
    }

    @Test
    void connectingToNothingIsACardException() throws Exception {
        int port;
        try (ServerSocket s = new ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
            port = s.getLocalPort();
        }
        assertThrows(CardException.class, () -> VpcdCard.connect("127.0.0.1", port, 2000));
    }

    // The product transport over this card: the length rewrite happens before the
    // bytes reach the link, and the ATR is the card's.
    @Test
    void transportDrivesTheVpcdCard() throws Exception {
        connect(c -> Hex.concat(Hex.bytes("0A 0B"), Hex.bytes("90 00")));
        long handle = SenderBridge.open(card);
        try {
            assertEquals("0A0B9000", Hex.text(SenderBridge.send(handle, card, Hex.bytes("00 B0 00 00 00 02"))));
            assertEquals(Hex.text(ATR), Hex.text(SenderBridge.atr(handle, card)));
        } finally {
            SenderBridge.close(handle);
        }
        List<byte[]> got = fake.received();
        assertEquals("00B0000002", Hex.text(got.get(got.size() - 1)));
        assertTrue(fake.connected());
    }

    @Test
    void frameLongerThanTheLengthFieldIsRefused() {
        assertThrows(java.io.IOException.class,
                () -> VpcdLink.write(OutputStream.nullOutputStream(), new byte[VpcdLink.MAX_MESSAGE + 1]));
    }
}
