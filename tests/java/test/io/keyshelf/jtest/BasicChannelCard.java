package io.keyshelf.jtest;

import java.nio.ByteBuffer;
import javax.smartcardio.Card;
import javax.smartcardio.CardChannel;
import javax.smartcardio.CardException;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;

/**
 * A javax.smartcardio card of our own with one basic channel and nothing else: no
 * logical channels, no reader control commands, exclusive access that costs nothing.
 * A subclass writes {@link #transmit(CommandAPDU)} and its ATR; the channel's
 * ByteBuffer form goes through the same transmit, and the channel refuses to be
 * closed, as the basic channel of a JDK card does.
 *
 * <p>Public only so that the benchmark's in-memory card, in another package, can use
 * it too.
 */
public abstract class BasicChannelCard extends Card {
    private final CardChannel basic = new Basic();

    protected BasicChannelCard() {}

    /** What the card answers to one command on its basic channel. */
    protected abstract ResponseAPDU transmit(CommandAPDU command) throws CardException;

    @Override
    public String getProtocol() {
        return "T=1";
    }

    /** The one channel; an override may count the calls, refuse or return null. */
    @Override
    public CardChannel getBasicChannel() {
        return basic;
    }

    @Override
    public CardChannel openLogicalChannel() throws CardException {
        throw new CardException("no logical channels on " + getClass().getSimpleName());
    }

    @Override
    public void beginExclusive() {}

    @Override
    public void endExclusive() {}

    @Override
    public byte[] transmitControlCommand(int controlCode, byte[] command) throws CardException {
        throw new CardException("no control commands on " + getClass().getSimpleName());
    }

    @Override
    public void disconnect(boolean reset) throws CardException {}

    private final class Basic extends CardChannel {
        @Override
        public Card getCard() {
            return BasicChannelCard.this;
        }

        @Override
        public int getChannelNumber() {
            return 0;
        }

        @Override
        public ResponseAPDU transmit(CommandAPDU command) throws CardException {
            return BasicChannelCard.this.transmit(command);
        }

        @Override
        public int transmit(ByteBuffer command, ByteBuffer response) throws CardException {
            byte[] c = new byte[command.remaining()];
            command.get(c);
            byte[] answer = transmit(new CommandAPDU(c)).getBytes();
            if (response.remaining() < answer.length) {
                throw new CardException("response buffer holds " + response.remaining() + " of " + answer.length + " bytes");
            }
            response.put(answer);
            return answer.length;
        }

        @Override
        public void close() {
            throw new IllegalStateException("the basic channel cannot be closed");
        }
    }
}
