package io.keyshelf.jtest;

import io.keyshelf.corvid.zudezozud.zid.KeyShelf;
import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.util.Collections;
import java.util.IdentityHashMap;
import java.util.Map;
import javax.smartcardio.Card;

/**
 * The thirteen natives of the JVM's deliverable (Deliverable.current()), called the
 * same way whichever it is. The card argument is what the test holds: a
 * javax.smartcardio Card, which libKeyShelf reaches through the card service bound
 * to it (bind, done by SimToken for its card), or any object passed on as it is (a
 * service of the test's own, null).
 *
 * <p>A key-store test class runs under both deliverables when it calls these in
 * place of KeyShelfJx's and carries the tag "shelf": each deliverable's JVM runs
 * every class of that tag.
 */
final class Shelf {
    private static final Deliverable DELIVERABLE = Deliverable.current();
    private static final boolean JX = DELIVERABLE == Deliverable.KEYSHELFJX;
    private static final Map<Object, Object> SERVICES = Collections.synchronizedMap(new IdentityHashMap<>());

    private Shelf() {}

    static Deliverable deliverable() {
        return DELIVERABLE;
    }

    /** libKeyShelf reaches this card through the service; libKeyShelfJx through the card itself. */
    static void bind(Card card, Object service) {
        SERVICES.put(card, service);
    }

    static void unbind(Card card) {
        SERVICES.remove(card);
    }

    /** What the deliverable's natives take for this card. */
    static Object target(Object card) {
        if (JX) return card;
        Object service = card == null ? null : SERVICES.get(card);
        return service != null ? service : card;
    }

    private static Card card(Object card) {
        return (Card) card;
    }

    static long createToken(Object card) {
        return JX ? KeyShelfJx.createToken(card(card)) : KeyShelf.createToken(target(card));
    }

    static void destroyToken(Object card, long h) {
        if (JX) KeyShelfJx.destroyToken(card(card), h);
        else KeyShelf.destroyToken(target(card), h);
    }

    static void Login(Object card, long h, char[] pin) {
        if (JX) KeyShelfJx.Login(card(card), h, pin);
        else KeyShelf.Login(target(card), h, pin);
    }

    static void Logout(Object card, long h) {
        if (JX) KeyShelfJx.Logout(card(card), h);
        else KeyShelf.Logout(target(card), h);
    }

    static String getTokenSerial(Object card, long h) {
        return JX ? KeyShelfJx.getTokenSerial(card(card), h) : KeyShelf.getTokenSerial(target(card), h);
    }

    static String getDirList(Object card, long h) {
        return JX ? KeyShelfJx.getDirList(card(card), h) : KeyShelf.getDirList(target(card), h);
    }

    static void openDir(Object card, long h, String name, boolean create) {
        if (JX) KeyShelfJx.openDir(card(card), h, name, create);
        else KeyShelf.openDir(target(card), h, name, create);
    }

    static void closeDir(Object card, long h, boolean remove) {
        if (JX) KeyShelfJx.closeDir(card(card), h, remove);
        else KeyShelf.closeDir(target(card), h, remove);
    }

    static void deleteFile(Object card, long h, int file) {
        if (JX) KeyShelfJx.deleteFile(card(card), h, file);
        else KeyShelf.deleteFile(target(card), h, file);
    }

    static void storeFile(Object card, long h, int file, byte[] data, boolean flag) {
        if (JX) KeyShelfJx.storeFile(card(card), h, file, data, flag);
        else KeyShelf.storeFile(target(card), h, file, data, flag);
    }

    static int getFileSize(Object card, long h, int file) {
        return JX ? KeyShelfJx.getFileSize(card(card), h, file) : KeyShelf.getFileSize(target(card), h, file);
    }

    static void readFile(Object card, long h, int file, int length, byte[] out) {
        if (JX) KeyShelfJx.readFile(card(card), h, file, length, out);
        else KeyShelf.readFile(target(card), h, file, length, out);
    }

    static void changePin(Object card, long h, char[] oldPin, char[] newPin) {
        if (JX) KeyShelfJx.changePin(card(card), h, oldPin, newPin);
        else KeyShelf.changePin(target(card), h, oldPin, newPin);
    }
}
