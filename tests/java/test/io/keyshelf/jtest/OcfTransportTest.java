package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrowsExactly;

import java.util.List;
import javax.smartcardio.CardException;
import opencard.core.service.CardChannel;
import opencard.core.service.SmartCard;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;

/**
 * The OpenCard Framework transport inside a real JVM (under -Xcheck:jni), driven
 * through the test bridge over card services of the tests' own whose card echoes
 * the command's header in front of 90 00.
 */
class OcfTransportTest {
    static final byte[] ATR = Hex.bytes("3B 02 14 50");
    private static final String REFUSED = "transport raised 0x6b00";

    /** A card that answers INS P1 P2 90 00, so each answer names its command. */
    static OcfService.Link echo() {
        return new OcfService.Link() {
            @Override
            public byte[] exchange(byte[] c) throws CardException {
                return Hex.concat(new byte[] {c[1], c[2], c[3]}, Hex.bytes("90 00"));
            }

            @Override
            public byte[] atr() {
                return ATR.clone();
            }
        };
    }

    private final OcfService service = new OcfService(echo());
    private long handle;

    private long open(Object s) {
        handle = SenderBridge.openOcf(s);
        return handle;
    }

    @AfterEach
    void close() {
        if (handle != 0) SenderBridge.closeOcf(handle);
    }

    private static void assertRefused(org.junit.jupiter.api.function.Executable call) {
        IllegalStateException e = assertThrowsExactly(IllegalStateException.class, call);
        assertEquals(REFUSED, e.getMessage());
    }

    /** Forms the javax.smartcardio transport reshapes reach this channel as the library built them. */
    @Test
    void commandsReachTheChannelUnchanged() {
        byte[][] commands = {
            Hex.bytes("00 B0 00 00 00 10"),
            Hex.concat(Hex.bytes("00 D6 00 00 00 01 00"), Hex.filled(256, 0xA5), Hex.bytes("00")),
            Hex.bytes("00 A4 04 00 02 3F 00 00 10"),
            Hex.bytes("00 A4 04 00 02 3F 00 01 00"),
        };
        long h = open(service);
        for (byte[] c : commands) {
            byte[] answer = SenderBridge.sendOcf(h, service, c);
            assertArrayEquals(Hex.concat(new byte[] {c[1], c[2], c[3]}, Hex.bytes("90 00")), answer);
            List<byte[]> sent = service.sent();
            assertEquals(Hex.text(c), Hex.text(sent.get(sent.size() - 1)), c.length + " bytes");
        }
        assertEquals(264, service.sent().get(1).length);
        // getCardChannel once when the transport was built, then once per command; the
        // channel is the Java side's to allocate and release.
        assertEquals(1 + commands.length, service.channelCalls.get());
        assertEquals(0, service.allocateCalls.get() + service.releaseCalls.get());
        // control does nothing and leaves its output as it was.
        assertEquals(0x2001, SenderBridge.appletAfterSelectOcf(h, 0x2001));
    }

    /** What getBuffer answers is the response as it stands: the status word is the caller's to read. */
    @ParameterizedTest
    @EnumSource(value = OcfService.Answer.class, names = {"BARE_9000", "ONE_BYTE", "EMPTY_BUFFER"})
    void answersAreTakenAsTheyCome(OcfService.Answer answer) {
        long h = open(service.faultAt(1, answer));
        byte[] got = SenderBridge.sendOcf(h, service, Hex.bytes("00 B0 00 00 00 10"));
        String want = answer == OcfService.Answer.BARE_9000 ? "9000" : answer == OcfService.Answer.ONE_BYTE ? "90" : "";
        assertEquals(want, Hex.text(got));
    }

    /** A send that fails raises 6B00, leaves the response as it was (checked in the bridge) and no exception pending. */
    @ParameterizedTest
    @EnumSource(value = OcfService.Answer.class, names = {"THROW", "NULL_RESPONSE", "NULL_BUFFER"})
    void failedSendsRaise6B00(OcfService.Answer answer) {
        long h = open(service.faultAt(2, answer));
        SenderBridge.sendOcf(h, service, Hex.bytes("00 A4 00 00 02 3F 00"));
        assertRefused(() -> SenderBridge.sendOcf(h, service, Hex.bytes("00 B0 00 00 00 10")));
        // The next command goes through: nothing was left behind.
        assertEquals("B000009000", Hex.text(SenderBridge.sendOcf(h, service, Hex.bytes("00 B0 00 00 00 10"))));
    }

    @Test
    void aNullChannelFailsTheBuildOrTheCommand() {
        assertRefused(() -> open(new OcfService(echo()).nullChannelAt(1)));
        OcfService later = new OcfService(echo()).nullChannelAt(3);
        long h = open(later);
        SenderBridge.sendOcf(h, later, Hex.bytes("00 B0 00 00 00 10"));
        assertRefused(() -> SenderBridge.sendOcf(h, later, Hex.bytes("00 B0 00 00 00 10")));
        // A refresh with no service fails before any traffic.
        int before = later.commands.get();
        assertRefused(() -> SenderBridge.sendOcf(h, null, Hex.bytes("00 B0 00 00 00 10")));
        assertEquals(before, later.commands.get());
    }

    /** Services whose class lacks one of the methods the transport needs. */
    @Test
    void aServiceClassWithoutAllocateOrReleaseIsRefused() {
        assertRefused(() -> open(new NoAllocate(service)));
        assertRefused(() -> open(new NoRelease(service)));
        assertRefused(() -> open(new Object()));
        assertEquals(0, service.allocateCalls.get() + service.releaseCalls.get());
    }

    /** Services of other classes, and channels of two classes in turn, each called through its own class. */
    @Test
    void servicesAndChannelsOfOtherClasses() {
        service.alternateChannelClasses();
        long h = open(service);
        OcfService other = new OcfService(echo()) {};
        assertNotEquals(service.getClass(), other.getClass());
        for (int i = 0; i < 4; i++) {
            Object s = i % 2 == 0 ? other : service;
            assertEquals("B000009000", Hex.text(SenderBridge.sendOcf(h, s, Hex.bytes("00 B0 00 00 00 10"))));
            assertEquals(Hex.text(ATR), Hex.text(SenderBridge.atrOcf(h, s)));
        }
        assertEquals(2, other.commands.get());
    }

    @ParameterizedTest
    @EnumSource(OcfService.AtrFault.class)
    void theAtrIsEmptyWhenAnyStepFails(OcfService.AtrFault fault) {
        long h = open(service.atrFault(fault));
        String want = fault == OcfService.AtrFault.NONE ? Hex.text(ATR) : "";
        assertEquals(want, Hex.text(SenderBridge.atrOcf(h, service)));
        // Nothing was left pending: a command still goes through.
        assertEquals("B000009000", Hex.text(SenderBridge.sendOcf(h, service, Hex.bytes("00 B0 00 00 00 10"))));
    }

    /** A plain object with the service's methods but allocateCardChannel. */
    static final class NoAllocate {
        private final OcfService inner;

        NoAllocate(OcfService inner) {
            this.inner = inner;
        }

        public CardChannel getCardChannel() {
            return inner.getCardChannel();
        }

        public void releaseCardChannel() {
            inner.releaseCardChannel();
        }

        public SmartCard getCard() {
            return inner.getCard();
        }
    }

    /** A plain object with the service's methods but releaseCardChannel. */
    static final class NoRelease {
        private final OcfService inner;

        NoRelease(OcfService inner) {
            this.inner = inner;
        }

        public CardChannel getCardChannel() {
            return inner.getCardChannel();
        }

        public void allocateCardChannel() {
            inner.allocateCardChannel();
        }

        public SmartCard getCard() {
            return inner.getCard();
        }
    }
}
