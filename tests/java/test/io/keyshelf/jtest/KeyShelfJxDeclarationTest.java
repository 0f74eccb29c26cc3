package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import io.keyshelf.corvid.zudezozud.zid.KeyShelf;
import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;
import java.util.Map;
import java.util.TreeMap;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import javax.smartcardio.Card;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The native methods are bound by name and JNI signature, so a changed parameter
 * type silently unbinds one: pin the thirteen declarations each library exports.
 */
class KeyShelfJxDeclarationTest {
    private static String signature(Class<?> ret, Class<?>... params) {
        return Arrays.stream(params).map(Class::getSimpleName).collect(Collectors.joining(",", "(", ")"))
                + ret.getSimpleName();
    }

    static Stream<Arguments> deliverables() {
        // libKeyShelf's class takes the card service as Object: it compiles without the framework.
        return Stream.of(Arguments.of(KeyShelfJx.class, Card.class), Arguments.of(KeyShelf.class, Object.class));
    }

    @ParameterizedTest
    @MethodSource("deliverables")
    void declaresTheThirteenNativeMethods(Class<?> type, Class<?> card) {
        Map<String, String> expected = new TreeMap<>();
        expected.put("createToken", signature(long.class, card));
        expected.put("destroyToken", signature(void.class, card, long.class));
        expected.put("Login", signature(void.class, card, long.class, char[].class));
        expected.put("Logout", signature(void.class, card, long.class));
        expected.put("getTokenSerial", signature(String.class, card, long.class));
        expected.put("getDirList", signature(String.class, card, long.class));
        expected.put("openDir", signature(void.class, card, long.class, String.class, boolean.class));
        expected.put("closeDir", signature(void.class, card, long.class, boolean.class));
        expected.put("deleteFile", signature(void.class, card, long.class, int.class));
        expected.put("storeFile", signature(void.class, card, long.class, int.class, byte[].class, boolean.class));
        expected.put("getFileSize", signature(int.class, card, long.class, int.class));
        expected.put("readFile", signature(void.class, card, long.class, int.class, int.class, byte[].class));
        expected.put("changePin", signature(void.class, card, long.class, char[].class, char[].class));

        Map<String, String> declared = new TreeMap<>();
        for (Method m : type.getDeclaredMethods()) {
            if (!Modifier.isNative(m.getModifiers())) continue;
            assertTrue(Modifier.isPublic(m.getModifiers()) && Modifier.isStatic(m.getModifiers()), m.toString());
            assertFalse(declared.containsKey(m.getName()), "overloaded native " + m.getName());
            declared.put(m.getName(), signature(m.getReturnType(), m.getParameterTypes()));
        }
        assertEquals(expected, declared);
    }

    @Test
    void loadingTheClassDoesNotLoadTheLibraryUnlessAsked() throws Exception {
        // Initialising the class without the property set must not need libKeyShelfJx on java.library.path.
        assertFalse(Boolean.getBoolean(KeyShelfJx.LOAD_PROPERTY));
        Class.forName(KeyShelfJx.class.getName(), true, KeyShelfJx.class.getClassLoader());
        assertFalse(Boolean.getBoolean(KeyShelf.LOAD_PROPERTY));
        Class.forName(KeyShelf.class.getName(), true, KeyShelf.class.getClassLoader());
    }
}
