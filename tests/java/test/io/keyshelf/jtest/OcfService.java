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
 * request. On request too, it keeps each command's own array, and keeps (or shares)
 * the answers its channel hands out.
 */
class OcfService extends CardService {
    /** Where the commands go. */
    interface Link {
        byte[] exchange(byte[] command) throws CardException;

        byte[] atr();
    }

    /** What a command gets instead of the card's answer. */
    enum Answer { CARD, THROW, NULL_RESPONSE, NULL_BUFFER, EMPTY_BUFFER, ONE_BYTE, BARE_9000 }

    /** How the channel makes the answers it hands out. */
    enum Answers {
        /** A ResponseAPDU of its own for each answer, forgotten once handed out. */
        FRESH,
        /** One of its own for each, every one kept: a trace of the session. */
        TRACED,
        /** As TRACED, but every answer that is exactly 90 00 is one single ResponseAPDU. */
        SHARED_9000
    }

    /** An answer the channel handed out, and a copy of the bytes it was made with (null for none). */
    record Handed(ResponseAPDU answer, byte[] madeWith) {}

    /** Where reading the ATR breaks. */
    enum AtrFault { NONE, CARD_NULL, CARD_THROWS, ID_NULL, ID_THROWS, ATR_NULL, ATR_THROWS }

    final Link link;
    final AtomicInteger channelCalls = new AtomicInteger();
    final AtomicInteger allocateCalls = new AtomicInteger();
    final AtomicInteger releaseCalls = new AtomicInteger();
    final AtomicInteger cardCalls = new AtomicInteger();
    final AtomicInteger commands = new AtomicInteger();
    private final List<byte[]> sent = new ArrayList<>();
    private volatile List<byte[]> commandArrays;
    private final List<Handed> handed = new ArrayList<>();
    private volatile Answers answers = Answers.FRESH;
    private final ResponseAPDU shared9000 = new ResponseAPDU(new byte[] {(byte) 0x90, 0x00});

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
     * From now on keeps the very array of each command the transport hands over (the
     * stand-in CommandAPDU keeps the one it is made with; a copy of its bytes stays in sent()).
     */
    OcfService keepCommandArrays() {
        commandArrays = new ArrayList<>();
        return this;
    }

    /** The command arrays kept since keepCommandArrays(), in order. */
    List<byte[]> commandArrays() {
        List<byte[]> kept = commandArrays;
        synchronized (sent) {
            return new ArrayList<>(kept);
        }
    }

    /** From now on the channel makes its answers this way. */
    OcfService answers(Answers mode) {
        answers = mode;
        return this;
    }

    /** Every answer handed out while they were TRACED or SHARED_9000, in order. */
    List<Handed> handed() {
        synchronized (sent) {
            return new ArrayList<>(handed);
        }
    }

    /** The one answer SHARED_9000 hands out for every 90 00. */
    ResponseAPDU shared9000() {
        return shared9000;
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
        List<byte[]> kept = commandArrays;
        if (kept != null) {
            synchronized (sent) {
                kept.add(command.getBuffer());
            }
        }
        return answer(n, bytes);
    }

    /** The answer over these bytes, as the channel's way of making answers has it. */
    private ResponseAPDU made(byte[] buffer) {
        Answers mode = answers;
        boolean bare9000 = buffer != null && buffer.length == 2 && buffer[0] == (byte) 0x90 && buffer[1] == 0x00;
        ResponseAPDU answer = mode == Answers.SHARED_9000 && bare9000 ? shared9000 : new ResponseAPDU(buffer);
        if (mode != Answers.FRESH) {
            synchronized (sent) {
                handed.add(new Handed(answer, buffer == null ? null : buffer.clone()));
            }
        }
        return answer;
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
                case NULL_BUFFER: return made(null);
                case EMPTY_BUFFER: return made(new byte[0]);
                case ONE_BYTE: return made(new byte[] {(byte) 0x90});
                case BARE_9000: return made(new byte[] {(byte) 0x90, 0x00});
                default: break;
            }
        }
        try {
            return made(link.exchange(bytes));
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
