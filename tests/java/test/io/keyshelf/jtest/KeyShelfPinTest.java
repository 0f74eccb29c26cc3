package io.keyshelf.jtest;

import static io.keyshelf.jtest.KeyShelfLibrary.assertFails;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.security.UnrecoverableKeyException;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * Login, logout and PIN change from Java on the simulated Java and Heron tokens, with
 * and without FIPS mode. The simulator keeps only the keys derived from its PIN, so a
 * login passes only when the library sends a MAC under the keys of exactly the PIN's
 * UTF-8 bytes.
 */
@Tag("shelf")
class KeyShelfPinTest {
    private static final String WRONG = "Wrong pin";
    private static final String BLOCKED = "Pin blocked";
    private static final String BAD_TEXT = "Smart card error with code 0x6281";

    /** p, a-umlaut, euro sign, G clef (U+1D11E, a surrogate pair in Java), 7. */
    private static final String WIDE = "p\u00e4\u20ac\ud834\udd1e7";

    private static String[] options(boolean fips, String... more) {
        List<String> o = new ArrayList<>(List.of(more));
        if (fips) o.add("--fips");
        return o.toArray(new String[0]);
    }

    private static String utf8Hex(String text) {
        return Hex.text(text.getBytes(StandardCharsets.UTF_8));
    }

    interface Session {
        void run(long h) throws Exception;
    }

    /** One createToken ... destroyToken on the simulated card. */
    static void session(SimToken t, Session body) throws Exception {
        long h = Shelf.createToken(t.card);
        assertNotEquals(0L, h);
        try {
            body.run(h);
        } finally {
            Shelf.destroyToken(t.card, h);
        }
    }

    static void login(SimToken t, long h, String pin) {
        Shelf.Login(t.card, h, pin.toCharArray());
    }

    /**
     * After {@code before} in a first session, 1234 is changed to 5678 and the session
     * goes on under it; later sessions take only 5678, change it back, and then take
     * only 1234 again.
     */
    static void changeAndBack(SimToken t, Session before) throws Exception {
        session(t, h -> {
            before.run(h);
            Shelf.changePin(t.card, h, "1234".toCharArray(), "5678".toCharArray());
            // The session goes on under the new PIN.
            Shelf.openDir(t.card, h, "7", true);
            Shelf.storeFile(t.card, h, 0xF007, new byte[] {1, 2, 3}, false);
            Shelf.Logout(t.card, h);
        });
        session(t, h -> {
            assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "1234"));
            login(t, h, "5678");
            // And back, so a PIN may be changed more than once.
            Shelf.changePin(t.card, h, "5678".toCharArray(), "1234".toCharArray());
        });
        session(t, h -> {
            assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "5678"));
            login(t, h, "1234");
        });
    }

    @ParameterizedTest(name = "{0}, fips {1}")
    @CsvSource({"java, false", "java, true", "heron, false", "heron, true"})
    void loginLogoutAndChangeInANewSession(String kind, boolean fips) throws Exception {
        try (SimToken t = SimToken.start(kind, options(fips))) {
            changeAndBack(t, h -> {
                login(t, h, "1234");
                Shelf.Logout(t.card, h);
                Shelf.Logout(t.card, h);  // logging out twice is no error
                assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "1235"));
                assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "12345"));
                login(t, h, "1234");
                // A wrong old PIN changes nothing.
                assertFails(UnrecoverableKeyException.class, WRONG,
                        () -> Shelf.changePin(t.card, h, "4321".toCharArray(), "5678".toCharArray()));
            });
        }
    }

    @ParameterizedTest(name = "{0}, fips {1}")
    @CsvSource({"java, false", "java, true", "heron, false", "heron, true"})
    void theRetryCounterBlocksThePinAndAGoodLoginRefillsIt(String kind, boolean fips) throws Exception {
        try (SimToken t = SimToken.start(kind, options(fips, "--pin-tries", "3"))) {
            session(t, h -> {
                // Two misses, then the right PIN: the counter is full again.
                for (int i = 0; i < 2; i++) assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "0000"));
                login(t, h, "1234");
                for (int i = 0; i < 2; i++) assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "0000"));
                // The third miss in a row blocks it; from then on even the right PIN is refused.
                assertFails(UnrecoverableKeyException.class, BLOCKED, () -> login(t, h, "0000"));
                assertFails(UnrecoverableKeyException.class, BLOCKED, () -> login(t, h, "1234"));
                assertFails(UnrecoverableKeyException.class, BLOCKED,
                        () -> Shelf.changePin(t.card, h, "1234".toCharArray(), "5678".toCharArray()));
            });
            // Blocked on the card, not in the session.
            session(t, h -> assertFails(UnrecoverableKeyException.class, BLOCKED, () -> login(t, h, "1234")));
        }
    }

    /** A PIN beyond ASCII, a surrogate pair included, is its UTF-8 bytes on the card. */
    @ParameterizedTest(name = "{0}, fips {1}")
    @CsvSource({"java, false", "java, true", "heron, false", "heron, true"})
    void pinsBeyondAsciiAreTheirUtf8Bytes(String kind, boolean fips) throws Exception {
        String[] nearMisses = {
            "p\u00e4\u20ac\ud834\udd1f7",        // the code point after the G clef
            "pa\u0308\u20ac\ud834\udd1e7",       // a-umlaut decomposed
            "p\u00e4\u00ac\ud834\udd1e7",        // the euro sign cut to its low byte
            "p\u00c3\u00a4\u20ac\ud834\udd1e7",  // a-umlaut's UTF-8 bytes taken as characters
            "p\u00e4\u20ac7",                    // the pair dropped
        };
        try (SimToken t = SimToken.start(kind, options(fips, "--pin-hex", utf8Hex(WIDE)))) {
            session(t, h -> {
                login(t, h, WIDE);
                for (String miss : nearMisses)
                    assertFails(miss, UnrecoverableKeyException.class, WRONG, () -> login(t, h, miss));
                login(t, h, WIDE);
                // To another such PIN, and to one of two pairs and nothing else.
                Shelf.changePin(t.card, h, WIDE.toCharArray(), "\u00df\u4e2d".toCharArray());
                Shelf.changePin(t.card, h, "\u00df\u4e2d".toCharArray(), "\ud83d\ude00\ud83d\ude01".toCharArray());
            });
            session(t, h -> {
                assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, WIDE));
                assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "\u00df\u4e2d"));
                login(t, h, "\ud83d\ude00\ud83d\ude01");
            });
        }
    }

    /** A lone surrogate has no UTF-8 form: refused before any card traffic, the counter untouched. */
    @ParameterizedTest(name = "{0}")
    @CsvSource({"java", "heron"})
    void loneSurrogatesAreRefusedBeforeAnyCardTraffic(String kind) throws Exception {
        String[] lone = {"12\ud834", "\udd1e34", "1\udd1e\ud8342", "\ud834\ud834\udd1e"};
        try (SimToken t = SimToken.start(kind, "--pin-tries", "2")) {
            session(t, h -> {
                List<Object[]> cases = new ArrayList<>();  // what, the call
                for (String pin : lone) {
                    String what = pin.chars().mapToObj(c -> String.format("%04X", c)).reduce((a, b) -> a + " " + b).get();
                    cases.add(new Object[] {"login " + what, (Executable) () -> login(t, h, pin)});
                    cases.add(new Object[] {"change from " + what,
                        (Executable) () -> Shelf.changePin(t.card, h, pin.toCharArray(), "5678".toCharArray())});
                    cases.add(new Object[] {"change to " + what,
                        (Executable) () -> Shelf.changePin(t.card, h, "1234".toCharArray(), pin.toCharArray())});
                }
                long before = t.commands();
                for (Object[] c : cases) {
                    assertFails((String) c[0], IOException.class, BAD_TEXT, (Executable) c[1]);
                    assertEquals(before, t.commands(), c[0] + " reached the card");
                }
                // Missing PINs are refused as early; the old one is looked at first.
                assertFails(UnrecoverableKeyException.class, "Pin missing",
                        () -> Shelf.changePin(t.card, h, null, "5678".toCharArray()));
                assertFails(UnrecoverableKeyException.class, "Pin missing",
                        () -> Shelf.changePin(t.card, h, new char[0], null));
                assertFails(UnrecoverableKeyException.class, "New pin missing",
                        () -> Shelf.changePin(t.card, h, "\ud834".toCharArray(), new char[0]));
                assertEquals(before, t.commands(), "a missing PIN reached the card");
                // Twelve refusals and not one counted as a miss: one try of two remains.
                assertFails(UnrecoverableKeyException.class, WRONG, () -> login(t, h, "0000"));
                login(t, h, "1234");
            });
        }
    }
}
