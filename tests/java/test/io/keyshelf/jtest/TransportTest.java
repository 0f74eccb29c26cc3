package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.function.Consumer;
import java.util.stream.Stream;
import javax.smartcardio.Card;
import javax.smartcardio.CardChannel;
import javax.smartcardio.CardException;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The javax.smartcardio transport inside a real JVM, against scripted cards.
 * Run under -Xcheck:jni: a JNI call made with an exception pending, or a native
 * call that outgrows its local reference capacity, fails the run.
 */
class TransportTest {
    private ScriptedCard card = new ScriptedCard();
    private long handle;

    private long open(Card c) {
        handle = SenderBridge.open(c);
        return handle;
    }

    @AfterEach
    void close() {
        if (handle != 0) SenderBridge.close(handle);
    }

    private static final byte[] EXT_HEADER = Hex.bytes("00 D6 00 00 00 01 00");
    private static final byte[] DATA_256 = Hex.filled(256, 0xA5);

    static Stream<Arguments> rewrites() {
        return Stream.of(
                // A short Le of 00 written out as a zero Lc: the JDK would read it as case 3 with no data.
                Arguments.of("6 bytes with a zero byte 4 loses it", Hex.bytes("00 B0 00 00 00 10"), Hex.bytes("00 B0 00 00 10")),
                Arguments.of("6 bytes with a real Lc stay", Hex.bytes("00 A4 04 00 01 3F"), Hex.bytes("00 A4 04 00 01 3F")),
                Arguments.of("extended Le alone stays", Hex.bytes("00 B0 00 00 00 01 00"), Hex.bytes("00 B0 00 00 00 01 00")),
                Arguments.of("extended Lc with one-byte Le gets a two-byte Le",
                        Hex.concat(EXT_HEADER, DATA_256, Hex.bytes("00")), Hex.concat(EXT_HEADER, DATA_256, Hex.bytes("00 00"))),
                Arguments.of("extended Lc with two-byte Le stays",
                        Hex.concat(EXT_HEADER, DATA_256, Hex.bytes("00 00")), Hex.concat(EXT_HEADER, DATA_256, Hex.bytes("00 00"))),
                Arguments.of("extended Lc without Le stays",
                        Hex.bytes("00 D6 00 00 00 00 03 01 02 03"), Hex.bytes("00 D6 00 00 00 00 03 01 02 03")),
                Arguments.of("short Lc with two-byte Le 00xx keeps the low byte",
                        Hex.bytes("00 A4 04 00 02 3F 00 00 10"), Hex.bytes("00 A4 04 00 02 3F 00 10")),
                Arguments.of("short Lc with two-byte Le above FF asks for 256",
                        Hex.bytes("00 A4 04 00 02 3F 00 01 00"), Hex.bytes("00 A4 04 00 02 3F 00 00")),
                Arguments.of("one data byte and a two-byte Le",
                        Hex.bytes("00 22 41 B6 01 80 00 20"), Hex.bytes("00 22 41 B6 01 80 20")),
                Arguments.of("short Lc with one-byte Le stays",
                        Hex.bytes("00 A4 04 00 02 3F 00 00"), Hex.bytes("00 A4 04 00 02 3F 00 00")),
                Arguments.of("header only stays", Hex.bytes("00 A4 00 00"), Hex.bytes("00 A4 00 00")),
                Arguments.of("short Le 256 stays", Hex.bytes("00 B0 00 00 00"), Hex.bytes("00 B0 00 00 00")));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("rewrites")
    void commandReachesTheChannelAsTheJdkAcceptsIt(String name, byte[] command, byte[] expected) {
        open(card);
        byte[] response = SenderBridge.send(handle, card, command);
        assertEquals(1, card.sent().size());
        assertEquals(Hex.text(expected), Hex.text(card.sent().get(0)));
        assertEquals("9000", Hex.text(response));
    }

    static Stream<Arguments> answers() {
        return Stream.of(
                Arguments.of("9000 without data", "90 00", "9000"),
                Arguments.of("error status alone", "6A 82", "6A82"),
                Arguments.of("data then status", "01 02 03 61 10", "0102036110"),
                Arguments.of("256 data bytes", Hex.text(Hex.filled(256, 0x5A)) + "9000", Hex.text(Hex.filled(256, 0x5A)) + "9000"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("answers")
    void responseIsDataFollowedBySw1Sw2(String name, String answer, String expected) {
        open(card);
        card.answer(answer);
        assertEquals(expected, Hex.text(SenderBridge.send(handle, card, Hex.bytes("00 B0 00 00 00"))));
    }

    static Stream<Arguments> failures() {
        return Stream.<Arguments>of(
                Arguments.of("null ResponseAPDU", (Consumer<ScriptedCard>) ScriptedCard::answerNull),
                Arguments.of("transmit throws CardException",
                        (Consumer<ScriptedCard>) c -> c.fail(new CardException("reader unplugged"))),
                Arguments.of("transmit throws a runtime exception",
                        (Consumer<ScriptedCard>) c -> c.fail(new IllegalStateException("card removed"))));
    }

    // The caller reads the status word of what send leaves: it must be nothing (FFFF),
    // never a stale 9000, and no Java exception may outlive the call.
    @ParameterizedTest(name = "{0}")
    @MethodSource("failures")
    void failedTransmitLeavesAnEmptyResponseAndTheTransportUsable(String name, Consumer<ScriptedCard> failure) {
        open(card);
        failure.accept(card);
        assertEquals("", Hex.text(SenderBridge.send(handle, card, Hex.bytes("00 B0 00 00 00"))));
        assertEquals(1, card.sent().size());

        card.answer("AA 90 00");
        assertEquals("AA9000", Hex.text(SenderBridge.send(handle, card, Hex.bytes("00 B0 00 00 01"))));
    }

    @Test
    void commandTheJdkRefusesIsNotTransmitted() {
        open(card);
        assertEquals("", Hex.text(SenderBridge.send(handle, card, Hex.bytes("00 A4 00"))));
        assertEquals("", Hex.text(SenderBridge.send(handle, card, new byte[0])));
        assertEquals(0, card.sent().size());
        assertEquals("9000", Hex.text(SenderBridge.send(handle, card, Hex.bytes("00 A4 00 00"))));
    }

    @Test
    void exceptionPendingFromTheCallerIsLeftAloneAndNothingIsSent() {
        open(card);
        IllegalStateException e = assertThrows(IllegalStateException.class,
                () -> SenderBridge.sendUnderPendingException(handle, card, Hex.bytes("00 B0 00 00 00")));
        assertEquals("pending from the caller", e.getMessage());
        assertEquals(0, card.sent().size());
    }

    @Test
    void channelLostAfterConstructionLeavesAnEmptyResponse() {
        open(card);
        card.loseChannel();
        assertEquals("", Hex.text(SenderBridge.send(handle, card, Hex.bytes("00 B0 00 00 00"))));
        assertEquals(0, card.sent().size());
    }

    @Test
    void nullCardOfTheCurrentCallLeavesAnEmptyResponse() {
        open(card);
        assertEquals("", Hex.text(SenderBridge.send(handle, null, Hex.bytes("00 B0 00 00 00"))));
        assertEquals("", Hex.text(SenderBridge.atr(handle, null)));
    }

    @Test
    void eachCallUsesTheCardItWasRefreshedWith() {
        open(card);
        ScriptedCard other = new ScriptedCard(Hex.bytes("3B 02 14 50"));
        other.answer("77 90 00");
        assertEquals("779000", Hex.text(SenderBridge.send(handle, other, Hex.bytes("00 B0 00 00 01"))));
        assertEquals(1, other.sent().size());
        assertEquals(0, card.sent().size());
        assertEquals("3B021450", Hex.text(SenderBridge.atr(handle, other)));
    }

    @Test
    void channelIsFetchedAnewForEveryCommand() {
        open(card);
        int before = card.channelRequests();
        SenderBridge.send(handle, card, Hex.bytes("00 B0 00 00 01"));
        SenderBridge.send(handle, card, Hex.bytes("00 B0 00 00 01"));
        assertEquals(before + 2, card.channelRequests());
    }

    @Test
    void atrIsReadAfreshAndNullGivesEmpty() {
        open(card);
        assertEquals("3B80800101", Hex.text(SenderBridge.atr(handle, card)));
        card.setAtr(Hex.bytes("3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A"));
        assertEquals("3B8F8001804F0CA000000306030001000000006A", Hex.text(SenderBridge.atr(handle, card)));
        card.setAtr(null);
        assertEquals("", Hex.text(SenderBridge.atr(handle, card)));
    }

    static Stream<Arguments> refusedCards() {
        return Stream.of(
                Arguments.of("no card", null),
                Arguments.of("no basic channel", new ScriptedCard().loseChannel()),
                Arguments.of("getBasicChannel throws", new ThrowingChannelCard()));
    }

    // Without a channel the transport cannot work at all: construction is refused
    // with the general error, and the Java failure behind it is not left pending.
    @ParameterizedTest(name = "{0}")
    @MethodSource("refusedCards")
    void constructionRefusesACardWithoutChannel(String name, Card refused) {
        IllegalStateException e = assertThrows(IllegalStateException.class, () -> open(refused));
        assertEquals("transport raised 0xffff", e.getMessage());
        handle = 0;
    }

    @Test
    void manySendsInOneNativeCallDoNotGrowTheLocalReferenceTable() {
        open(card);
        byte[] last = SenderBridge.sendRepeatedly(handle, card, Hex.bytes("00 B0 00 00 10"), 300);
        assertEquals("9000", Hex.text(last));
        List<byte[]> sent = card.sent();
        assertEquals(300, sent.size());
        assertTrue(sent.stream().allMatch(b -> Hex.text(b).equals("00B0000010")));
    }

    @Test
    void selectAppletIsStoredAndControlDoesNothing() {
        open(card);
        assertEquals(0x2001, SenderBridge.appletAfterSelect(handle, 0x2001));
        assertEquals(0, card.sent().size());
    }

    /** A card whose channel accessor throws, as a disconnected javax.smartcardio card does. */
    private static final class ThrowingChannelCard extends BasicChannelCard {
        @Override
        public javax.smartcardio.ATR getATR() {
            return null;
        }

        @Override
        public CardChannel getBasicChannel() {
            throw new IllegalStateException("Card has been disconnected");
        }

        @Override
        protected ResponseAPDU transmit(CommandAPDU command) {
            throw new AssertionError("a card without a channel got a command");
        }
    }
}
