package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import io.keyshelf.corvid.zudezozud.zid.KeyShelf;
import java.io.IOException;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Set;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.UnaryOperator;
import java.util.stream.Stream;
import javax.smartcardio.CardException;
import opencard.core.service.CardService;
import opencard.core.service.CardServiceException;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.params.provider.MethodSource;

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

    /** Which framework classes the plug-in's loader takes from the caller's loader rather than its own copy. */
    enum Shared {
        /** A whole copy: the plug-in's channel takes and answers APDUs of its own classes. */
        NONE,
        /** The channel takes the caller's CommandAPDU but answers a ResponseAPDU of its own. */
        COMMAND("opencard.core.terminal.CommandAPDU"),
        /** The channel takes a CommandAPDU of its own. */
        RESPONSE("opencard.core.terminal.ResponseAPDU");

        final Set<String> names;

        Shared(String... names) {
            this.names = Set.of(names);
        }
    }

    /**
     * A card service of a plug-in over the token's link, loaded with the framework
     * classes a second time (but the shared ones) by a class loader over the
     * directories the caller's copies came from.
     */
    private static Object plugin(SimToken t, Shared shared, AtomicInteger commands) throws Exception {
        URL framework = CardService.class.getProtectionDomain().getCodeSource().getLocation();
        URL classes = PluginOcfService.class.getProtectionDomain().getCodeSource().getLocation();
        ClassLoader caller = KeyShelfOcfTest.class.getClassLoader();
        @SuppressWarnings("resource")  // lives as long as the plug-in's classes, to the end of the test
        ClassLoader loader = new URLClassLoader(new URL[] {framework, classes}, ClassLoader.getPlatformClassLoader()) {
            @Override
            protected Class<?> loadClass(String name, boolean resolve) throws ClassNotFoundException {
                return shared.names.contains(name) ? caller.loadClass(name) : super.loadClass(name, resolve);
            }
        };
        Class<?> cls = Class.forName(PluginOcfService.class.getName(), true, loader);
        assertNotSame(CardService.class, cls.getSuperclass(), "the plug-in's framework is a copy of its own");
        UnaryOperator<byte[]> link = c -> {
            try {
                return t.card.exchangeCommand(c);
            } catch (CardException e) {
                throw new IllegalStateException(e);
            }
        };
        return cls.getConstructor(UnaryOperator.class, AtomicInteger.class).newInstance(link, commands);
    }

    /**
     * A service whose channel works on another copy of the framework classes never has
     * an object of one copy taken for one of the other: the transport fails (6B00), at
     * createToken and at a call on a token made with the caller's own service, and the
     * token goes on. Where the channel takes our CommandAPDU it is called, but its
     * answer is refused; otherwise it is never called.
     */
    @ParameterizedTest
    @EnumSource(Shared.class)
    void aChannelOnAnotherCopyOfTheFrameworkFailsTheTransport(Shared shared) throws Exception {
        try (SimToken t = SimToken.start("heron", "--serial", "07")) {
            AtomicInteger reached = new AtomicInteger();
            Object plugin = plugin(t, shared, reached);
            if (shared == Shared.COMMAND) {
                // Built, then every probe's answer is refused: no applet answered.
                assertFails(Deliverable.KEYSHELF.noApplet(), Deliverable.KEYSHELF.noAppletMessage,
                        () -> KeyShelf.createToken(plugin));
                assertTrue(reached.get() > 0);
            } else {
                assertFails(IOException.class, BAD, () -> KeyShelf.createToken(plugin));
            }
            OcfService s = service(t);
            session(s, h -> {
                assertFails(IOException.class, BAD, () -> KeyShelf.openDir(plugin, h, "2", true));
                KeyShelf.openDir(s, h, "2", true);
                assertFails(IOException.class, BAD, () -> KeyShelf.getDirList(plugin, h));
                assertEquals("2", KeyShelf.getDirList(s, h));
                assertEquals("7\\", KeyShelf.getTokenSerial(s, h));
            });
            if (shared != Shared.COMMAND) assertEquals(0, reached.get());
        }
    }

    /** Each way the channel makes its answers, with the login's command answered by the card or failing first. */
    static Stream<Arguments> answersAndLoginRoads() {
        List<Arguments> cases = new ArrayList<>();
        for (OcfService.Answers answers : List.of(OcfService.Answers.TRACED, OcfService.Answers.SHARED_9000))
            for (OcfService.Answer login : List.of(OcfService.Answer.CARD, OcfService.Answer.THROW,
                    OcfService.Answer.NULL_RESPONSE, OcfService.Answer.NULL_BUFFER, OcfService.Answer.ONE_BYTE))
                cases.add(Arguments.of(answers, login));
        return cases.stream();
    }

    /**
     * The library zeroes the arrays it makes, each command's own (which the framework's
     * CommandAPDU keeps), once each call is back, and leaves every answer the channel
     * handed out as the channel made it: a channel that keeps a trace of its answers, and
     * one that hands out one single ResponseAPDU for every 90 00, each carry a whole
     * session (on the failing roads the login's command fails first). The secrets went
     * through them: the PIN in the login's command, the bytes of a read-protected file
     * in a write and in an answer.
     */
    @ParameterizedTest(name = "{0} answers, login {1}")
    @MethodSource("answersAndLoginRoads")
    void theLibraryZeroesItsOwnArraysAndLeavesTheChannelsAnswers(OcfService.Answers answers, OcfService.Answer login)
            throws Exception {
        String pinText = "Zq8#Vw2!";
        byte[] pin = pinText.getBytes(StandardCharsets.US_ASCII);
        byte[] file = new byte[48];
        for (int i = 0; i < file.length; i++) file[i] = (byte) (0xC5 ^ i * 37);
        try (SimToken t = SimToken.start("datastore", "--pin", pinText)) {
            OcfService s = service(t).keepCommandArrays().answers(answers);
            long h = KeyShelf.createToken(s);
            boolean destroyed = false;
            try {
                assertOwnArraysZeroedAnswersAsMade(s);
                if (login != OcfService.Answer.CARD) {
                    s.faultOn(LOGIN, login);
                    assertThrows(IOException.class, () -> KeyShelf.Login(s, h, pinText.toCharArray()));
                    assertOwnArraysZeroedAnswersAsMade(s);
                    s.faultAt(0, OcfService.Answer.CARD);
                }
                KeyShelf.Login(s, h, pinText.toCharArray());
                assertOwnArraysZeroedAnswersAsMade(s);
                KeyShelf.openDir(s, h, "1", true);
                KeyShelf.storeFile(s, h, 0xF001, file.clone(), false);
                assertOwnArraysZeroedAnswersAsMade(s);
                byte[] back = new byte[file.length];
                KeyShelf.readFile(s, h, 0xF001, file.length, back);
                assertArrayEquals(file, back);
                assertOwnArraysZeroedAnswersAsMade(s);
                KeyShelf.destroyToken(s, h);
                destroyed = true;
                assertOwnArraysZeroedAnswersAsMade(s);
            } finally {
                if (!destroyed) KeyShelf.destroyToken(s, h);
            }

            List<byte[]> sent = s.sent();
            long logins = sent.stream().filter(c -> startsWith(c, LOGIN) && endsWith(c, pin)).count();
            assertEquals(login == OcfService.Answer.CARD ? 1 : 2, logins);
            assertTrue(sent.stream().anyMatch(c -> Hex.text(c).contains(Hex.text(file))), "no write of the file");
            List<OcfService.Handed> handed = s.handed();
            assertTrue(handed.stream().anyMatch(a -> Hex.text(a.madeWith()).contains(Hex.text(file))),
                    "no answer with the file");
            // Every command's array was checked, and every answer but the one a failed login never got.
            assertEquals(sent.size(), s.commandArrays().size());
            boolean noAnswer = login == OcfService.Answer.THROW || login == OcfService.Answer.NULL_RESPONSE;
            assertEquals(sent.size() - (noAnswer ? 1 : 0), handed.size());
            long shared = handed.stream().filter(a -> a.answer() == s.shared9000()).count();
            if (answers == OcfService.Answers.SHARED_9000) assertTrue(shared > 1, shared + " answers shared");
        }
    }

    private static final byte[] LOGIN = Hex.bytes("80 10 10 00");

    /** The arrays the library made for the commands are zeros; the answers the channel made hold what they were made with. */
    private static void assertOwnArraysZeroedAnswersAsMade(OcfService s) {
        List<byte[]> arrays = s.commandArrays();
        for (int i = 0; i < arrays.size(); i++)
            assertEquals(Hex.text(new byte[arrays.get(i).length]), Hex.text(arrays.get(i)), "command array " + i);
        List<OcfService.Handed> handed = s.handed();
        for (int i = 0; i < handed.size(); i++)
            assertEquals(Hex.text(handed.get(i).madeWith()), Hex.text(handed.get(i).answer().getBuffer()), "answer " + i);
    }

    private static boolean startsWith(byte[] b, byte[] prefix) {
        return b.length >= prefix.length && Arrays.equals(b, 0, prefix.length, prefix, 0, prefix.length);
    }

    private static boolean endsWith(byte[] b, byte[] suffix) {
        return b.length >= suffix.length && Arrays.equals(b, b.length - suffix.length, b.length, suffix, 0, suffix.length);
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
