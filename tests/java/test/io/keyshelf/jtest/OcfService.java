package io.keyshelf.jtest;

import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.atomic.AtomicInteger;
import javax.smartcardio.Card;
import javax.smartcardio.CardException;
import opencard.core.service.CardChannel;
import opencard.core.service.CardService;
import opencard.core.service.SmartCard;
import opencard.core.terminal.CardID;
import opencard.core.terminal.CommandAPDU;
import opencard.core.terminal.ResponseAPDU;

/**
 * A card service of the tests' own, on the framework stand-ins, over one of two
 * links: the card simulator in the vpcd framing (each command's bytes go unchanged),
 * or a javax.smartcardio card such as one of the pcscd rig (sent with
 * CardChannel.transmit(ByteBuffer, ByteBuffer), which keeps the bytes exact). It
 * counts its calls and the commands, keeps every command's bytes, and breaks on
 * request.
 */
class OcfService extends CardService {
    /** Where the commands go. */
    interface Link {
        byte[] exchange(byte[] command) throws CardException;

        byte[] atr();
    }

    /** What a command gets instead of the card's answer. */
    enum Answer { CARD, THROW, NULL_RESPONSE, NULL_BUFFER, EMPTY_BUFFER, ONE_BYTE, BARE_9000 }

    /** Where reading the ATR breaks. */
    enum AtrFault { NONE, CARD_NULL, CARD_THROWS, ID_NULL, ID_THROWS, ATR_NULL, ATR_THROWS }

    final Link link;
    final AtomicInteger channelCalls = new AtomicInteger();
    final AtomicInteger allocateCalls = new AtomicInteger();
    final AtomicInteger releaseCalls = new AtomicInteger();
    final AtomicInteger cardCalls = new AtomicInteger();
    final AtomicInteger commands = new AtomicInteger();
    private final List<byte[]> sent = new ArrayList<>();
    private volatile List<byte[]> arrays;

    private volatile int nullChannelAtCall;
    private volatile Answer fault = Answer.CARD;
    private volatile int faultAtCommand;
    private volatile byte[] faultPrefix;
    private final AtomicInteger faultSkip = new AtomicInteger();
    private volatile AtrFault atrFault = AtrFault.NONE;
    private volatile boolean alternateChannels;
    private volatile Gate gate;

    OcfService(Link link) {
        this.link = link;
    }

    static Link simulator(VpcdCard card) {
        return new Link() {
            @Override
            public byte[] exchange(byte[] command) throws CardException {
                return card.exchangeCommand(command);
            }

            @Override
            public byte[] atr() {
                return card.getATR().getBytes();
            }
        };
    }

    static Link card(Card card) {
        return new Link() {
            @Override
            public byte[] exchange(byte[] command) throws CardException {
                ByteBuffer answer = ByteBuffer.allocate(0x10002);
                int n = card.getBasicChannel().transmit(ByteBuffer.wrap(command), answer);
                return Arrays.copyOf(answer.array(), n);
            }

            @Override
            public byte[] atr() {
                return card.getATR().getBytes();
            }
        };
    }

    /** The k-th call of getCardChannel (1 is the first, made when the transport is built) answers null. */
    OcfService nullChannelAt(int call) {
        nullChannelAtCall = call;
        return this;
    }

    /** The n-th command (from 1) gets this answer in place of the card's. */
    OcfService faultAt(int command, Answer answer) {
        faultAtCommand = command;
        faultPrefix = null;
        fault = answer;
        return this;
    }

    /** Every command that starts with the prefix gets this answer in place of the card's. */
    OcfService faultOn(byte[] prefix, Answer answer) {
        return faultOn(prefix, 0, answer);
    }

    /** As faultOn(prefix, answer), letting the first {@code skip} matching commands through. */
    OcfService faultOn(byte[] prefix, int skip, Answer answer) {
        faultSkip.set(skip);
        faultAtCommand = 0;
        faultPrefix = prefix.clone();
        fault = answer;
        return this;
    }

    OcfService atrFault(AtrFault f) {
        atrFault = f;
        return this;
    }

    /** Channels of two different classes, taken in turn. */
    OcfService alternateChannelClasses() {
        alternateChannels = true;
        return this;
    }

    OcfService gate(Gate g) {
        gate = g;
        return this;
    }

    /**
     * From now on keeps the very arrays the transport hands over and gets back: each
     * command's own array and each answer's buffer (copies of their bytes stay in sent()).
     */
    OcfService keepArrays() {
        arrays = new ArrayList<>();
        return this;
    }

    /** The arrays kept since keepArrays(), in order. */
    List<byte[]> arrays() {
        List<byte[]> kept = arrays;
        synchronized (sent) {
            return new ArrayList<>(kept);
        }
    }

    /** Every command's bytes, in order. */
    List<byte[]> sent() {
        synchronized (sent) {
            return new ArrayList<>(sent);
        }
    }

    @Override
    public CardChannel getCardChannel() {
        int call = channelCalls.incrementAndGet();
        if (call == nullChannelAtCall) return null;
        return alternateChannels && call % 2 == 0 ? new OtherChannel() : new Channel();
    }

    @Override
    public void allocateCardChannel() {
        allocateCalls.incrementAndGet();
    }

    @Override
    public void releaseCardChannel() {
        releaseCalls.incrementAndGet();
    }

    @Override
    public SmartCard getCard() {
        cardCalls.incrementAndGet();
        AtrFault f = atrFault;
        if (f == AtrFault.CARD_NULL) return null;
        if (f == AtrFault.CARD_THROWS) throw new IllegalStateException("no card");
        return new SmartCard() {
            @Override
            public CardID getCardID() {
                if (f == AtrFault.ID_NULL) return null;
                if (f == AtrFault.ID_THROWS) throw new IllegalStateException("no card identifier");
                if (f == AtrFault.ATR_NULL) return new CardID(null);
                if (f == AtrFault.ATR_THROWS) {
                    return new CardID(null) {
                        @Override
                        public byte[] getATR() {
                            throw new IllegalStateException("no ATR");
                        }
                    };
                }
                return new CardID(link.atr());
            }
        };
    }

    ResponseAPDU transmit(CommandAPDU command) {
        int n = commands.incrementAndGet();
        byte[] bytes = command.getBytes();
        synchronized (sent) {
            sent.add(bytes);
        }
        List<byte[]> kept = arrays;
        if (kept != null) keep(kept, command.getBuffer());
        ResponseAPDU answer = answer(n, bytes);
        if (kept != null && answer != null && answer.getBuffer() != null) keep(kept, answer.getBuffer());
        return answer;
    }

    private void keep(List<byte[]> kept, byte[] array) {
        synchronized (sent) {
            kept.add(array);
        }
    }

    private ResponseAPDU answer(int n, byte[] bytes) {
        Gate g = gate;
        try {
            if (g != null && !g.pass()) throw new IllegalStateException("gate never opened");
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException("interrupted at the gate", e);
        }
        Answer f = fault;
        byte[] prefix = faultPrefix;
        boolean hit = f != Answer.CARD && (n == faultAtCommand || (prefix != null && bytes.length >= prefix.length
                && Arrays.equals(bytes, 0, prefix.length, prefix, 0, prefix.length) && faultSkip.getAndDecrement() <= 0));
        if (hit) {
            switch (f) {
                case THROW: throw new IllegalStateException("card removed at command " + n);
                case NULL_RESPONSE: return null;
                case NULL_BUFFER: return new ResponseAPDU(null);
                case EMPTY_BUFFER: return new ResponseAPDU(new byte[0]);
                case ONE_BYTE: return new ResponseAPDU(new byte[] {(byte) 0x90});
                case BARE_9000: return new ResponseAPDU(new byte[] {(byte) 0x90, 0x00});
                default: break;
            }
        }
        try {
            return new ResponseAPDU(link.exchange(bytes));
        } catch (CardException e) {
            throw new IllegalStateException("link failed", e);
        }
    }

    private class Channel extends CardChannel {
        @Override
        public ResponseAPDU sendCommandAPDU(CommandAPDU command) {
            return transmit(command);
        }
    }

    /** Of a class of its own: an identifier of Channel's class must never be used on it. */
    private final class OtherChannel extends CardChannel {
        @Override
        public ResponseAPDU sendCommandAPDU(CommandAPDU command) {
            return transmit(command);
        }
    }
}
