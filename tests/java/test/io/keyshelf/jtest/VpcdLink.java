package io.keyshelf.jtest;

import java.io.DataInputStream;
import java.io.EOFException;
import java.io.IOException;
import java.io.OutputStream;

/**
 * The vpcd framing: every message is a two-byte big-endian length and that many
 * bytes. A one-byte message is a control byte (power off, power on, reset, get
 * ATR); anything longer is a command APDU, or, coming back, a response APDU.
 */
final class VpcdLink {
    static final byte POWER_OFF = 0x00;
    static final byte POWER_ON = 0x01;
    static final byte RESET = 0x02;
    static final byte GET_ATR = 0x04;
    static final int MAX_MESSAGE = 0xFFFF;

    private VpcdLink() {}

    static void write(OutputStream out, byte[] message) throws IOException {
        if (message.length > MAX_MESSAGE) {
            throw new IOException("message of " + message.length + " bytes does not fit the two-byte length");
        }
        byte[] frame = new byte[2 + message.length];
        frame[0] = (byte) (message.length >>> 8);
        frame[1] = (byte) message.length;
        System.arraycopy(message, 0, frame, 2, message.length);
        // One write per frame: the peer may read the length and the body separately,
        // but a frame split over two writes invites a half-frame on a broken link.
        out.write(frame);
        out.flush();
    }

    /** Reads one whole frame; a peer that closes before or within a frame gives EOFException. */
    static byte[] read(DataInputStream in) throws IOException {
        int hi = in.read();
        if (hi < 0) throw new EOFException("link closed");
        int lo = in.read();
        if (lo < 0) throw new EOFException("link closed inside a length");
        byte[] message = new byte[(hi << 8) | lo];
        in.readFully(message);
        return message;
    }
}
