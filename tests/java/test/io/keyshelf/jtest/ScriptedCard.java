package io.keyshelf.jtest;

import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.List;
import java.util.function.Supplier;
import javax.smartcardio.ATR;
import javax.smartcardio.CardChannel;
import javax.smartcardio.CardException;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;

/**
 * A card whose basic channel records the bytes of every CommandAPDU and plays a
 * script of answers: a response, a null response, or a thrown exception. When the
 * script runs dry the channel answers 90 00.
 */
final class ScriptedCard extends BasicChannelCard {
    private final List<byte[]> sent = new ArrayList<>();
    private final Deque<Supplier<ResponseAPDU>> script = new ArrayDeque<>();
    private byte[] atr;
    private boolean channelGone;
    private int channelRequests;

    ScriptedCard(byte[] atr) {
        this.atr = atr;
    }

    ScriptedCard() {
        this(Hex.bytes("3B 80 80 01 01"));
    }

    ScriptedCard answer(String responseHex) {
        byte[] bytes = Hex.bytes(responseHex);
        script.add(() -> new ResponseAPDU(bytes));
        return this;
    }

    ScriptedCard answerNull() {
        script.add(() -> null);
        return this;
    }

    /** The next transmit throws; CardException is checked, so it travels wrapped and is unwrapped in transmit. */
    ScriptedCard fail(Exception e) {
        script.add(() -> {
            throw new Thrown(e);
        });
        return this;
    }

    /** From now on getBasicChannel returns null. */
    ScriptedCard loseChannel() {
        channelGone = true;
        return this;
    }

    void setAtr(byte[] atr) {
        this.atr = atr;
    }

    List<byte[]> sent() {
        return sent;
    }

    int channelRequests() {
        return channelRequests;
    }

    @Override
    public ATR getATR() {
        return atr == null ? null : new ATR(atr);
    }

    @Override
    public CardChannel getBasicChannel() {
        channelRequests++;
        return channelGone ? null : super.getBasicChannel();
    }

    @Override
    protected ResponseAPDU transmit(CommandAPDU command) throws CardException {
        sent.add(command.getBytes());
        Supplier<ResponseAPDU> next = script.poll();
        if (next == null) return new ResponseAPDU(new byte[] {(byte) 0x90, 0x00});
        try {
            return next.get();
        } catch (Thrown t) {
            if (t.cause instanceof CardException) throw (CardException) t.cause;
            if (t.cause instanceof RuntimeException) throw (RuntimeException) t.cause;
            throw new CardException(t.cause);
        }
    }

    private static final class Thrown extends RuntimeException {
        private static final long serialVersionUID = 1L;
        final Exception cause;

        Thrown(Exception cause) {
            super(cause);
            this.cause = cause;
        }
    }
}
