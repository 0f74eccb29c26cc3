package io.keyshelf.jtest;

import java.io.BufferedInputStream;
import java.io.DataInputStream;
import java.io.EOFException;
import java.io.IOException;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.util.ArrayList;
import java.util.List;
import java.util.function.Function;

/**
 * The card's side of the vpcd framing, on a thread of its own: it answers GET ATR
 * with its ATR, takes power off/on/reset silently, and answers each command APDU
 * with what the handler returns (a handler returning null makes it drop the link,
 * as a card pulled mid-command). Either it listens for the reader (as the card
 * simulator does) or it connects to a listening reader (as vpicc does to vpcd).
 */
final class FakeVpicc implements AutoCloseable {
    private final byte[] atr;
    private final Function<byte[], byte[]> handler;
    private final List<byte[]> received = new ArrayList<>();
    private final Thread thread;
    private volatile ServerSocket server;
    private volatile Socket socket;
    private volatile boolean closing;
    private volatile Exception failure;

    private FakeVpicc(byte[] atr, Function<byte[], byte[]> handler, ServerSocket server, String host, int port,
                      long connectForMs) {
        this.atr = atr.clone();
        this.handler = handler;
        this.server = server;
        this.thread = new Thread(() -> run(host, port, connectForMs), "fake-vpicc");
        this.thread.setDaemon(true);
        this.thread.start();
    }

    /** Listens on an ephemeral loopback port for one reader. */
    static FakeVpicc listening(byte[] atr, Function<byte[], byte[]> handler) throws IOException {
        ServerSocket server = new ServerSocket(0, 1, InetAddress.getLoopbackAddress());
        return new FakeVpicc(atr, handler, server, null, 0, 0);
    }

    /** Connects to a reader listening on 127.0.0.1:port, retrying for up to connectForMs. */
    static FakeVpicc connectingTo(int port, long connectForMs, byte[] atr, Function<byte[], byte[]> handler) {
        return new FakeVpicc(atr, handler, null, "127.0.0.1", port, connectForMs);
    }

    int port() {
        return server.getLocalPort();
    }

    /** Every message received so far, control bytes included, in order. */
    List<byte[]> received() {
        synchronized (received) {
            return new ArrayList<>(received);
        }
    }

    boolean connected() {
        return socket != null;
    }

    /** What made the card side stop other than a reader that went away, if anything. */
    Exception failure() {
        return failure;
    }

    /** Waits until the reader has closed the link and everything it sent was read. */
    void awaitReaderGone(long ms) throws InterruptedException {
        thread.join(ms);
    }

    private void run(String host, int port, long connectForMs) {
        try {
            Socket s = server != null ? server.accept() : connect(host, port, connectForMs);
            if (s == null) return;
            socket = s;
            s.setTcpNoDelay(true);
            serve(new DataInputStream(new BufferedInputStream(s.getInputStream())), s.getOutputStream());
        } catch (EOFException e) {
            // the reader closed the link
        } catch (IOException | RuntimeException e) {
            if (!closing) failure = e;
        } finally {
            closeQuietly();
        }
    }

    private Socket connect(String host, int port, long connectForMs) throws IOException {
        long deadline = System.nanoTime() + connectForMs * 1_000_000L;
        while (!closing) {
            Socket s = new Socket();
            try {
                s.connect(new InetSocketAddress(host, port), 1000);
                return s;
            } catch (IOException e) {
                s.close();
                if (System.nanoTime() > deadline) throw e;
            }
            try {
                Thread.sleep(50);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                return null;
            }
        }
        return null;
    }

    private void serve(DataInputStream in, OutputStream out) throws IOException {
        while (!closing) {
            byte[] message = VpcdLink.read(in);
            synchronized (received) {
                received.add(message);
            }
            if (message.length == 1) {
                if (message[0] == VpcdLink.GET_ATR) VpcdLink.write(out, atr);
                continue;  // power off, on and reset have no answer
            }
            byte[] answer = handler.apply(message);
            if (answer == null) return;
            VpcdLink.write(out, answer);
        }
    }

    private void closeQuietly() {
        try {
            if (socket != null) socket.close();
            if (server != null) server.close();
        } catch (IOException e) {
            // nothing left to release
        }
    }

    @Override
    public void close() {
        closing = true;
        closeQuietly();
        thread.interrupt();
        try {
            thread.join(5000);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    static boolean isControl(byte[] message, byte code) {
        return message.length == 1 && message[0] == code;
    }
}
