package io.keyshelf.jtest;

import java.io.BufferedInputStream;
import java.io.DataInputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.nio.ByteBuffer;
import javax.smartcardio.ATR;
import javax.smartcardio.CardChannel;
import javax.smartcardio.CardException;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;

/**
 * A javax.smartcardio card reached over TCP in the vpcd framing, playing the
 * reader's side: it powers the card on, asks its ATR and sends each command APDU
 * as one frame, reading the response APDU back as one frame. The card simulator
 * (cardsim_server --tcp) listens on the other end.
 */
final class VpcdCard extends BasicChannelCard implements AutoCloseable {
    static final int DEFAULT_TIMEOUT_MS = 10_000;

    private final Socket socket;
    private final DataInputStream in;
    private final OutputStream out;
    private ATR atr;
    private boolean disconnected;
    // Faults of the link, whichever road the command takes: commands that start with
    // this prefix fail as a broken link; every command gets this answer.
    private volatile byte[] failingPrefix;
    private final java.util.concurrent.atomic.AtomicInteger failingSkip = new java.util.concurrent.atomic.AtomicInteger();
    private volatile byte[] answerToAll;

    private VpcdCard(Socket socket) throws IOException {
        this.socket = socket;
        this.in = new DataInputStream(new BufferedInputStream(socket.getInputStream()));
        this.out = socket.getOutputStream();
    }

    static VpcdCard connect(String host, int port) throws CardException {
        return connect(host, port, DEFAULT_TIMEOUT_MS);
    }

    /** Connects, powers the card on and reads its ATR. */
    static VpcdCard connect(String host, int port, int timeoutMs) throws CardException {
        Socket socket = new Socket();
        try {
            socket.connect(new InetSocketAddress(host, port), timeoutMs);
            socket.setSoTimeout(timeoutMs);
            socket.setTcpNoDelay(true);
            VpcdCard card = new VpcdCard(socket);
            card.control(VpcdLink.POWER_ON);
            card.atr = card.readAtr();
            return card;
        } catch (IOException | CardException e) {
            closeQuietly(socket);
            throw e instanceof CardException ? (CardException) e : new CardException("vpcd link to " + host + ":" + port, e);
        }
    }

    /** Resets the card and reads its ATR anew. */
    synchronized void reset() throws CardException {
        control(VpcdLink.RESET);
        atr = readAtr();
    }

    private ATR readAtr() throws CardException {
        byte[] bytes = exchange(new byte[] {VpcdLink.GET_ATR});
        if (bytes.length == 0) throw new CardException("card answered GET ATR with nothing");
        return new ATR(bytes);
    }

    private synchronized void control(byte code) throws CardException {
        checkConnected();
        try {
            VpcdLink.write(out, new byte[] {code});
        } catch (IOException e) {
            throw new CardException("vpcd control " + code, e);
        }
    }

    private synchronized byte[] exchange(byte[] message) throws CardException {
        checkConnected();
        try {
            VpcdLink.write(out, message);
            return VpcdLink.read(in);
        } catch (IOException e) {
            throw new CardException("vpcd exchange", e);
        }
    }

    /** From now on every command that starts with the prefix (null: none) fails as a broken link would. */
    void failCommands(byte[] prefix) {
        failCommands(prefix, 0);
    }

    /** As failCommands(prefix), letting the first {@code skip} matching commands through. */
    void failCommands(byte[] prefix, int skip) {
        failingSkip.set(skip);
        failingPrefix = prefix == null ? null : prefix.clone();
    }

    /** From now on the card answers every command with these bytes (null: the simulator answers). */
    void answerEveryCommand(byte[] answer) {
        answerToAll = answer == null ? null : answer.clone();
    }

    /**
     * One command's bytes to the simulator exactly as given, and its answer as it
     * comes: the road of a card service's channel, which no CommandAPDU of
     * javax.smartcardio reshapes.
     */
    byte[] exchangeCommand(byte[] command) throws CardException {
        byte[] prefix = failingPrefix;
        if (prefix != null && command.length >= prefix.length
                && java.util.Arrays.equals(command, 0, prefix.length, prefix, 0, prefix.length)
                && failingSkip.getAndDecrement() <= 0) {
            throw new CardException("link broken at a command of prefix " + Hex.text(prefix));
        }
        byte[] answer = answerToAll;
        return answer != null ? answer.clone() : exchange(command);
    }

    /** The simulator's file tree as text (its FE 01 inspection frame); no card traffic. */
    String inspectTree() throws CardException {
        return new String(exchange(new byte[] {(byte) 0xFE, 0x01}), java.nio.charset.StandardCharsets.US_ASCII);
    }

    /** How many command APDUs the simulator has seen (its FE 02 inspection frame). */
    long commandCount() throws CardException {
        byte[] b = exchange(new byte[] {(byte) 0xFE, 0x02});
        if (b.length != 4) throw new CardException("simulator answered the count request with " + b.length + " bytes");
        return ByteBuffer.wrap(b).getInt() & 0xFFFFFFFFL;
    }

    private void checkConnected() {
        if (disconnected) throw new IllegalStateException("Card has been disconnected");
    }

    @Override
    public synchronized ATR getATR() {
        return atr;
    }

    @Override
    public synchronized CardChannel getBasicChannel() {
        checkConnected();
        return super.getBasicChannel();
    }

    @Override
    protected ResponseAPDU transmit(CommandAPDU command) throws CardException {
        byte[] answer = exchangeCommand(command.getBytes());
        // A response APDU is at least SW1 SW2; a one-byte frame would be a control byte.
        if (answer.length < 2) {
            throw new CardException("response of " + answer.length + " byte(s) carries no status word");
        }
        return new ResponseAPDU(answer);
    }

    /** Powers the card off and closes the link; later calls see a disconnected card. */
    @Override
    public synchronized void disconnect(boolean reset) throws CardException {
        if (disconnected) return;
        try {
            control(VpcdLink.POWER_OFF);
        } finally {
            disconnected = true;
            closeQuietly(socket);
        }
    }

    @Override
    public void close() {
        try {
            disconnect(false);
        } catch (CardException e) {
            // The link is closed either way; a peer that went first is no failure here.
        }
    }

    private static void closeQuietly(Socket s) {
        try {
            s.close();
        } catch (IOException e) {
            // nothing left to release
        }
    }
}
