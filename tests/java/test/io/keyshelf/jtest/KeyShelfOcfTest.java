package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import io.keyshelf.corvid.zudezozud.zid.KeyShelf;
import java.io.IOException;
import java.util.Arrays;
import java.util.List;
import opencard.core.service.CardServiceException;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;

/**
 * libKeyShelf's own cases: card services that break, from Java through the natives
 * to the simulated tokens (run in the JVM that loads libKeyShelf).
 */
@Tag("ocf")
class KeyShelfOcfTest {
    private static final String BAD = "Smart card error with code 0x6b00";
    private static final String UNKNOWN = "Unknown error";

    private static OcfService service(SimToken t) {
        return new OcfService(OcfService.simulator(t.card));
    }

    /** One createToken ... destroyToken through the service. */
    private static void session(OcfService s, KeyShelfPinTest.Session body) throws Exception {
        long h = KeyShelf.createToken(s);
        try {
            body.run(h);
        } finally {
            KeyShelf.destroyToken(s, h);
        }
    }

    /** A service with no channel, or whose class lacks allocate or release, cannot make a token. */
    @Test
    void servicesThatCannotCarryAToken() throws Exception {
        try (SimToken t = SimToken.start("java")) {
            OcfService s = service(t);
            Object[] services = {service(t).nullChannelAt(1), new OcfTransportTest.NoAllocate(s),
                new OcfTransportTest.NoRelease(s), new Object()};
            for (Object service : services)
                assertFails(service.getClass().getSimpleName(), IOException.class, BAD, () -> KeyShelf.createToken(service));
            assertEquals(0, t.commands());
            assertEquals(0, s.allocateCalls.get() + s.releaseCalls.get());
        }
    }

    /** With no ATR the token is still found by its applet's AID. */
    @ParameterizedTest
    @EnumSource(value = OcfService.AtrFault.class, names = "NONE", mode = EnumSource.Mode.EXCLUDE)
    void withoutAnAtrProbingGoesOnByAid(OcfService.AtrFault fault) throws Exception {
        try (SimToken t = SimToken.start("java", "--serial", "0102")) {
            OcfService s = service(t).atrFault(fault);
            long h = KeyShelf.createToken(s);
            assertEquals("1\\2\\", KeyShelf.getTokenSerial(s, h));
            KeyShelf.destroyToken(s, h);
        }
    }

    /** The channel is fetched at each build and for each command; allocate and release are never called. */
    @Test
    void channelCallsAndCommandsAreCounted() throws Exception {
        try (SimToken t = SimToken.start("java")) {
            OcfService s = service(t);
            long h = KeyShelf.createToken(s);
            // Two builds on a Java token: the token's transport and the card-manager check's.
            assertEquals(s.commands.get() + 2, s.channelCalls.get());
            KeyShelf.openDir(s, h, "1", true);
            KeyShelf.storeFile(s, h, 0xF003, new byte[600], false);
            KeyShelf.destroyToken(s, h);
            assertEquals(s.commands.get() + 2, s.channelCalls.get());
            assertEquals(t.commands(), s.commands.get());
            assertEquals(0, s.allocateCalls.get() + s.releaseCalls.get());
        }
    }

    /** A command that fails on its way: 6B00, and the token goes on with the next call. */
    @ParameterizedTest
    @EnumSource(value = OcfService.Answer.class, names = {"THROW", "NULL_RESPONSE", "NULL_BUFFER"})
    void aFailedCommandIs6B00AndTheTokenGoesOn(OcfService.Answer answer) throws Exception {
        try (SimToken t = SimToken.start("heron", "--serial", "07")) {
            OcfService s = service(t);
            session(s, h -> {
                KeyShelf.openDir(s, h, "2", true);
                s.faultAt(s.commands.get() + 1, answer);
                assertFails(IOException.class, BAD, () -> KeyShelf.storeFile(s, h, 0xF003, new byte[10], false));
                assertEquals("7\\", KeyShelf.getTokenSerial(s, h));
            });
        }
    }

    /** Answers too short for a status word fail the call; a bare 90 00 is an answer without data. */
    @ParameterizedTest
    @EnumSource(value = OcfService.Answer.class, names = {"EMPTY_BUFFER", "ONE_BYTE"})
    void answersWithoutAStatusWordFail(OcfService.Answer answer) throws Exception {
        try (SimToken t = SimToken.start("heron")) {
            OcfService s = service(t);
            session(s, h -> {
                s.faultAt(s.commands.get() + 1, answer);
                Throwable e = org.junit.jupiter.api.Assertions.assertThrows(Exception.class, () -> KeyShelf.getDirList(s, h));
                assertEquals(IOException.class, e.getClass(), e.toString());
            });
        }
    }

    /** The card-manager check's GET DATA 9F7F failing refuses the Java token. */
    @ParameterizedTest
    @EnumSource(value = OcfService.Answer.class, names = {"THROW", "NULL_RESPONSE", "NULL_BUFFER"})
    void aFailedCardManagerCheckRefusesTheToken(OcfService.Answer answer) throws Exception {
        try (SimToken t = SimToken.start("java")) {
            // The manager's version is read with the same command first; that one goes through.
            OcfService s = service(t).faultOn(Hex.bytes("80 CA 9F 7F"), 1, answer);
            assertFails(CardServiceException.class, UNKNOWN, () -> KeyShelf.createToken(s));
        }
    }

    /**
     * Commands reach the card as the library built them, the two forms that the
     * javax.smartcardio road completes first included: the DataStore logout as
     * header, 00, 00, and a Gost write of a whole file with an extended Lc and a
     * one-byte Le. The card takes both.
     */
    @Test
    void commandsReachTheCardAsBuilt() throws Exception {
        try (SimToken t = SimToken.start("datastore")) {
            OcfService s = service(t);
            session(s, h -> {
                KeyShelf.Login(s, h, "1234".toCharArray());
                KeyShelf.openDir(s, h, "1", true);
                KeyShelf.storeFile(s, h, 0xF001, new byte[] {1}, false);
                KeyShelf.Logout(s, h);
                assertEquals("801030000000", Hex.text(last(s)));
                assertFails(IOException.class, "Smart card error with code 0x6900",
                        () -> KeyShelf.readFile(s, h, 0xF001, 1, new byte[1]));
            });
        }
        try (SimToken t = SimToken.start("gost")) {
            OcfService s = service(t);
            session(s, h -> {
                KeyShelf.Login(s, h, "123456".toCharArray());
                KeyShelf.openDir(s, h, "1", true);
                byte[] data = new byte[300];
                Arrays.fill(data, (byte) 0x5A);
                KeyShelf.storeFile(s, h, 0xF006, data, false);
                boolean extendedWithShortLe = s.sent().stream().anyMatch(c -> c.length > 7 && c[4] == 0
                        && c.length == 8 + (((c[5] & 0xFF) << 8) | (c[6] & 0xFF)));
                assertTrue(extendedWithShortLe, "no extended command with a one-byte Le");
                byte[] back = new byte[300];
                KeyShelf.readFile(s, h, 0xF006, 300, back);
                assertEquals(Hex.text(data), Hex.text(back));
            });
        }
    }

    private static byte[] last(OcfService s) {
        List<byte[]> sent = s.sent();
        return sent.get(sent.size() - 1);
    }

    /** Every call may bring a service of another class, with channels of two classes in turn. */
    @Test
    void servicesAndChannelsOfOtherClasses() throws Exception {
        try (SimToken t = SimToken.start("java")) {
            OcfService first = service(t);
            long h = KeyShelf.createToken(first);
            OcfService other = new OcfService(OcfService.simulator(t.card)) {};
            other.alternateChannelClasses();
            KeyShelf.Login(other, h, "1234".toCharArray());
            KeyShelf.openDir(first, h, "9", true);
            KeyShelf.storeFile(other, h, 0xF001, new byte[] {1, 2, 3}, false);
            byte[] out = new byte[3];
            KeyShelf.readFile(first, h, 0xF001, 3, out);
            assertEquals("010203", Hex.text(out));
            KeyShelf.destroyToken(other, h);
        }
    }
}
