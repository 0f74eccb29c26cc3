package io.keyshelf.jtest;

import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Arrays;
import java.util.Base64;

/**
 * Login tickets of the Tessel token as the tests build them: a 24-byte check value,
 * then a compact TLV element 01 of length BD holding the ticket record (type, key
 * identifier, two-key TDEA key, PIN as 32-bit characters, little-endian), all in
 * 208 characters of Base64. The text holds 156 bytes, so the record is cut after
 * its first 130 bytes and the card library fills the rest with zeros.
 */
final class TesselTicket {
    /** The ticket key the simulated Tessel card leaves the factory with. */
    static final byte[] KEY_ID = Hex.bytes("00 00 01 07");
    static final byte[] KEY = Hex.bytes("3C 1A 9E 52 07 D4 6B 88 F1 25 40 AD 19 6E C3 77");

    private static final int RECORD_SIZE = 189;
    private static final int DECODED_SIZE = 156;

    private TesselTicket() {}

    static char[] build(int type, byte[] keyId, byte[] key, String pin) {
        byte[] record = new byte[RECORD_SIZE];
        putLe32(record, 0, type);
        System.arraycopy(keyId, 0, record, 4, 4);
        System.arraycopy(key, 0, record, 8, 16);
        int[] chars = pin.codePoints().toArray();
        for (int i = 0; i < chars.length && i < 30; i++) putLe32(record, 24 + 4 * i, chars[i]);

        byte[] d = new byte[DECODED_SIZE];
        d[24] = 0x01;
        d[25] = (byte) RECORD_SIZE;
        System.arraycopy(record, 0, d, 26, DECODED_SIZE - 26);
        byte[] check = md5Key(Arrays.copyOfRange(d, 24, d.length));
        System.arraycopy(check, 0, d, 0, 24);
        String text = Base64.getEncoder().encodeToString(d);
        if (text.length() != 208) throw new IllegalStateException("a ticket is 208 characters: " + text.length());
        return text.toCharArray();
    }

    static char[] build(int type, String pin) {
        return build(type, KEY_ID, KEY, pin);
    }

    /** The 24-byte key of a PIN: MD5(00 || in) || MD5(01 || in), seven bits a byte, bit 0 first. */
    static byte[] md5Key(byte[] in) {
        byte[] h = new byte[32];
        try {
            for (int prefix = 0; prefix < 2; prefix++) {
                MessageDigest md5 = MessageDigest.getInstance("MD5");
                md5.update((byte) prefix);
                md5.update(in);
                System.arraycopy(md5.digest(), 0, h, 16 * prefix, 16);
            }
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException(e);
        }
        byte[] out = new byte[24];
        for (int j = 0; j < 24; j++)
            for (int b = 0; b < 7; b++) {
                int bit = 7 * j + b;
                if (((h[bit / 8] >> (bit % 8)) & 1) != 0) out[j] |= (byte) (1 << b);
            }
        return out;
    }

    private static void putLe32(byte[] b, int at, int v) {
        for (int i = 0; i < 4; i++) b[at + i] = (byte) (v >>> (8 * i));
    }

    static String ascii(char[] text) {
        return new String(new String(text).getBytes(StandardCharsets.US_ASCII), StandardCharsets.US_ASCII);
    }
}
