package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import javax.smartcardio.Card;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * libKeyShelfJx with cards of other classes than the one a token was created with:
 * every native is called through the declared javax.smartcardio methods, so a
 * wrapper card with a channel class of its own works under -Xcheck:jni.
 */
@Tag("store")
class CardClassesTest {
    @Test
    void everyNativeTakesACardOfAnotherClass() throws Exception {
        try (SimToken t = SimToken.start("java", "--serial", "0C")) {
            long h = KeyShelfJx.createToken(t.card);
            Card other = new ForwardingCard(t.card);
            assertNotEquals(t.card.getClass(), other.getClass());
            assertNotEquals(t.card.getBasicChannel().getClass(), other.getBasicChannel().getClass());
            KeyShelfJx.Login(other, h, "1234".toCharArray());
            KeyShelfJx.changePin(other, h, "1234".toCharArray(), "5678".toCharArray());
            assertEquals("c\\", KeyShelfJx.getTokenSerial(other, h));
            KeyShelfJx.openDir(other, h, "6", true);
            KeyShelfJx.storeFile(other, h, 0xF002, new byte[] {9, 8, 7}, false);
            assertEquals(80, KeyShelfJx.getFileSize(other, h, 0xF002));
            byte[] out = new byte[3];
            KeyShelfJx.readFile(other, h, 0xF002, 3, out);
            assertArrayEquals(new byte[] {9, 8, 7}, out);
            KeyShelfJx.deleteFile(other, h, 0xF002);
            KeyShelfJx.closeDir(other, h, false);
            assertEquals("6", KeyShelfJx.getDirList(other, h));
            KeyShelfJx.Logout(other, h);
            // And back to the first class, then a token created over the wrapper.
            assertEquals("c\\", KeyShelfJx.getTokenSerial(t.card, h));
            KeyShelfJx.destroyToken(other, h);
            long w = KeyShelfJx.createToken(other);
            assertEquals("6", KeyShelfJx.getDirList(t.card, w));
            KeyShelfJx.destroyToken(t.card, w);
        }
    }
}
