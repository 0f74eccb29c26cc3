package io.keyshelf.jtest;

import java.util.HexFormat;

final class Hex {
    private static final HexFormat FORMAT = HexFormat.of().withUpperCase();

    private Hex() {}

    /** "00 B0 00 00" and "00B00000" both parse. */
    static byte[] bytes(String text) {
        return FORMAT.parseHex(text.replace(" ", ""));
    }

    static String text(byte[] bytes) {
        return bytes == null ? "null" : FORMAT.formatHex(bytes);
    }

    /** header + fill bytes, for long commands. */
    static byte[] concat(byte[]... parts) {
        int n = 0;
        for (byte[] p : parts) n += p.length;
        byte[] out = new byte[n];
        int at = 0;
        for (byte[] p : parts) {
            System.arraycopy(p, 0, out, at, p.length);
            at += p.length;
        }
        return out;
    }

    static byte[] filled(int length, int value) {
        byte[] out = new byte[length];
        java.util.Arrays.fill(out, (byte) value);
        return out;
    }
}
