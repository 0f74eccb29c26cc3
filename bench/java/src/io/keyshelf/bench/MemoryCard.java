package io.keyshelf.bench;

import io.keyshelf.jtest.BasicChannelCard;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import javax.smartcardio.ATR;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;

/**
 * A zero-latency Java token inside the JVM: its basic channel answers every command at
 * once from a small in-memory model of the Java applet's file tree and the card
 * manager's CPLC, just enough for createToken and the key-container file calls.
 *
 * <p>The model keeps no access conditions: every file is free to read and write, so no
 * PIN is needed. While recording is on, the bytes of every command are kept.
 */
final class MemoryCard extends BasicChannelCard {
    static final byte[] JAVA_AID = {(byte) 0xA0, 0x00, 0x00, 0x03, 0x12, 0x02, 0x02};
    static final byte[] MANAGER_AID = {(byte) 0xA0, 0x00, 0x00, 0x01, 0x51, 0x00, 0x00};
    private static final byte[] ATR_BYTES = {0x3B, (byte) 0xD5, 0x18, 0x00, (byte) 0x81, 0x31, (byte) 0xFE, 0x7D,
            (byte) 0x80, 0x73, (byte) 0xC8, 0x21, 0x10, (byte) 0xF4};

    private static final int SW_OK = 0x9000;
    private static final int SW_NOT_FOUND = 0x6A82;
    private static final int SW_WRONG_LENGTH = 0x6700;
    private static final int SW_WRONG_DATA = 0x6A80;
    private static final int SW_WRONG_P1P2 = 0x6B00;
    private static final int SW_INS = 0x6D00;
    private static final int SW_CLA = 0x6E00;
    private static final int SW_NO_EF = 0x6986;
    private static final int SW_EXISTS = 0x6A89;
    private static final int SW_OUTSIDE = 0x6B00;
    private static final int SW_END_OF_FILE = 0x6282;

    private enum Applet { NONE, JAVA, MANAGER }

    /** A folder or transparent file of the applet's tree. */
    static final class Node {
        final int fid;
        final boolean folder;
        final Node parent;
        byte[] content;
        final Map<Integer, Node> children = new LinkedHashMap<>();

        Node(int fid, boolean folder, Node parent, int size) {
            this.fid = fid;
            this.folder = folder;
            this.parent = parent;
            this.content = new byte[folder ? 0 : size];
        }
    }

    private final Node root = new Node(0x3F00, true, null, 0);
    private final byte[] cplc = new byte[42];
    private Applet applet = Applet.NONE;
    private Node current;
    private boolean recording;
    private final List<byte[]> recorded = new ArrayList<>();
    private long commands;
    private long latencyNanos;

    MemoryCard() {
        folderPath(0x6666, 0x5000);
        // A chip identification that no refusal names, and card manager version 7
        // (CPLC bytes 8 and 9, answer bytes 11 and 12).
        byte[] chip = {0x47, (byte) 0x90, 0x51, 0x67, 0x47, (byte) 0x91};
        System.arraycopy(chip, 0, cplc, 0, chip.length);
        cplc[9] = 0x07;
    }

    /** Makes the folders of an absolute path below 3F00 where they are missing; returns the last. */
    Node folderPath(int... fids) {
        Node n = root;
        for (int fid : fids) {
            Node child = n.children.get(fid);
            if (child == null) {
                child = new Node(fid, true, n, 0);
                n.children.put(fid, child);
            }
            n = child;
        }
        return n;
    }

    /** Puts a transparent file of the given content into a folder. */
    static void putFile(Node folder, int fid, byte[] content) {
        Node f = new Node(fid, false, folder, content.length);
        System.arraycopy(content, 0, f.content, 0, content.length);
        folder.children.put(fid, f);
    }

    /** Every answer from now on waits this long (a busy wait, so no scheduler noise): a card that takes time. */
    void latency(long nanos) {
        latencyNanos = nanos;
    }

    void record(boolean on) {
        recording = on;
        if (on) recorded.clear();
    }

    List<byte[]> recorded() {
        return new ArrayList<>(recorded);
    }

    long commands() {
        return commands;
    }

    @Override
    public ATR getATR() {
        return new ATR(ATR_BYTES);
    }

    @Override
    protected ResponseAPDU transmit(CommandAPDU command) {
        commands++;
        if (recording) recorded.add(command.getBytes());
        if (latencyNanos > 0) {
            final long until = System.nanoTime() + latencyNanos;
            while (System.nanoTime() < until) Thread.onSpinWait();
        }
        return process(command);
    }

    // ------------------------------------------------------------ the card side

    /** A failed command: its status word is the answer. */
    private static final class Status extends Exception {
        private static final long serialVersionUID = 1L;
        final int sw;

        Status(int sw) {
            super(null, null, false, false);
            this.sw = sw;
        }
    }

    private static ResponseAPDU answer(byte[] data, int sw) {
        byte[] r = Arrays.copyOf(data, data.length + 2);
        r[data.length] = (byte) (sw >> 8);
        r[data.length + 1] = (byte) sw;
        return new ResponseAPDU(r);
    }

    private static ResponseAPDU status(int sw) {
        return new ResponseAPDU(new byte[] {(byte) (sw >> 8), (byte) sw});
    }

    private ResponseAPDU process(CommandAPDU c) {
        try {
            if (c.getINS() == 0xA4 && c.getCLA() == 0x00 && c.getP1() == 0x04) return selectApplet(c);
            switch (applet) {
                case JAVA: return java(c);
                case MANAGER: return manager(c);
                default: return status(SW_NOT_FOUND);
            }
        } catch (Status s) {
            return status(s.sw);
        }
    }

    private ResponseAPDU selectApplet(CommandAPDU c) {
        byte[] aid = c.getData();
        current = null;
        if (Arrays.equals(aid, JAVA_AID)) {
            applet = Applet.JAVA;
        } else if (Arrays.equals(aid, MANAGER_AID)) {
            applet = Applet.MANAGER;
        } else {
            applet = Applet.NONE;
            return status(SW_NOT_FOUND);
        }
        return status(SW_OK);
    }

    private ResponseAPDU manager(CommandAPDU c) throws Status {
        if (c.getINS() != 0xCA) throw new Status(SW_INS);
        if (c.getP1() != 0x9F || c.getP2() != 0x7F) throw new Status(SW_NOT_FOUND);
        byte[] reply = new byte[3 + cplc.length];
        reply[0] = (byte) 0x9F;
        reply[1] = 0x7F;
        reply[2] = (byte) cplc.length;
        System.arraycopy(cplc, 0, reply, 3, cplc.length);
        return answer(reply, SW_OK);
    }

    private ResponseAPDU java(CommandAPDU c) throws Status {
        final int cla = c.getCLA(), ins = c.getINS();
        if (cla == 0x00 && ins == 0xA4) return select(c);
        if (cla == 0x00 && ins == 0xE4) return remove(c);
        if (cla != 0x80) throw new Status(SW_CLA);
        switch (ins) {
            case 0x18: return read(c);
            case 0x15: return write(c);
            case 0x16: return create(c);
            case 0x1B: return status(SW_OK);  // change marker: nothing to keep
            default: throw new Status(SW_INS);
        }
    }

    private ResponseAPDU select(CommandAPDU c) throws Status {
        byte[] d = c.getData();
        Node n = root;
        if (c.getP1() == 0x08) {
            if (d.length == 0 || d.length % 2 != 0) throw new Status(SW_WRONG_LENGTH);
            for (int i = 0; i < d.length; i += 2) {
                n = n.children.get(be16(d, i));
                if (n == null) throw new Status(SW_NOT_FOUND);
            }
        } else if (c.getP1() != 0x00 || d.length != 0) {
            throw new Status(SW_WRONG_P1P2);
        }
        current = n;
        int size = n.content.length;
        byte[] fci = {0x01, 0x01, (byte) (n.folder ? 0x01 : 0x02), 0x03, 0x02, (byte) (size >> 8), (byte) size,
                0x04, 0x02, 0x00, 0x00};
        return answer(fci, SW_OK);
    }

    private Node currentFile() throws Status {
        if (current == null) throw new Status(SW_NO_EF);
        if (current.folder) throw new Status(SW_NO_EF);
        return current;
    }

    private Node currentFolder() throws Status {
        if (current == null || !current.folder) throw new Status(SW_NO_EF);
        return current;
    }

    // 80 18 00 00 04 0E 02 offset Le
    private ResponseAPDU read(CommandAPDU c) throws Status {
        byte[] d = c.getData();
        if (d.length != 4 || d[0] != 0x0E || d[1] != 0x02) throw new Status(SW_WRONG_DATA);
        Node f = currentFile();
        int offset = be16(d, 2);
        if (offset > f.content.length) throw new Status(SW_OUTSIDE);
        int n = Math.min(c.getNe(), f.content.length - offset);
        byte[] r = new byte[n + 2];
        System.arraycopy(f.content, offset, r, 0, n);
        int sw = n < c.getNe() ? SW_END_OF_FILE : SW_OK;
        r[n] = (byte) (sw >> 8);
        r[n + 1] = (byte) sw;
        return new ResponseAPDU(r);
    }

    // 80 15 00 00 Lc 0E 02 offset 10 n data
    private ResponseAPDU write(CommandAPDU c) throws Status {
        byte[] d = c.getData();
        if (d.length < 6 || d[0] != 0x0E || d[1] != 0x02 || d[4] != 0x10 || (d[5] & 0xFF) != d.length - 6)
            throw new Status(SW_WRONG_DATA);
        Node f = currentFile();
        int offset = be16(d, 2), n = d.length - 6;
        if (offset > f.content.length || n > f.content.length - offset) throw new Status(SW_OUTSIDE);
        System.arraycopy(d, 6, f.content, offset, n);
        return status(SW_OK);
    }

    // 80 16 01 00 12 01 01 type 02 02 FID 03 02 size 04 05 access...
    private ResponseAPDU create(CommandAPDU c) throws Status {
        byte[] d = c.getData();
        if (d.length != 18 || d[0] != 0x01 || d[3] != 0x02 || d[7] != 0x03 || d[11] != 0x04)
            throw new Status(SW_WRONG_DATA);
        Node dir = currentFolder();
        int fid = be16(d, 5), size = be16(d, 9);
        if (dir.children.containsKey(fid)) throw new Status(SW_EXISTS);
        dir.children.put(fid, new Node(fid, d[2] == 0x01, dir, size));
        return status(SW_OK);
    }

    // 00 E4 00 00 02 FID, inside the current folder
    private ResponseAPDU remove(CommandAPDU c) throws Status {
        byte[] d = c.getData();
        if (d.length != 2) throw new Status(SW_WRONG_LENGTH);
        if (currentFolder().children.remove(be16(d, 0)) == null) throw new Status(SW_NOT_FOUND);
        return status(SW_OK);
    }

    private static int be16(byte[] b, int at) {
        return ((b[at] & 0xFF) << 8) | (b[at + 1] & 0xFF);
    }
}
