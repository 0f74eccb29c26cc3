package io.keyshelf.jtest;

import java.nio.ByteBuffer;
import javax.smartcardio.ATR;
import javax.smartcardio.Card;
import javax.smartcardio.CardChannel;
import javax.smartcardio.CardException;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;

/**
 * A wrapper around another card, with a channel of its own class: neither the card's
 * class nor the channel's class is the one the wrapped card has, as when a caller
 * hands in a wrapper or a card of another provider.
 */
final class ForwardingCard extends Card {
    private final Card inner;
    private final CardChannel channel = new ForwardingChannel();

    ForwardingCard(Card inner) {
        this.inner = inner;
    }

    @Override
    public ATR getATR() {
        return inner.getATR();
    }

    @Override
    public String getProtocol() {
        return inner.getProtocol();
    }

    @Override
    public CardChannel getBasicChannel() {
        return channel;
    }

    @Override
    public CardChannel openLogicalChannel() throws CardException {
        throw new CardException("no logical channels");
    }

    @Override
    public void beginExclusive() {}

    @Override
    public void endExclusive() {}

    @Override
    public byte[] transmitControlCommand(int controlCode, byte[] command) throws CardException {
        return inner.transmitControlCommand(controlCode, command);
    }

    @Override
    public void disconnect(boolean reset) {}

    private final class ForwardingChannel extends CardChannel {
        @Override
        public Card getCard() {
            return ForwardingCard.this;
        }

        @Override
        public int getChannelNumber() {
            return 0;
        }

        @Override
        public ResponseAPDU transmit(CommandAPDU command) throws CardException {
            return inner.getBasicChannel().transmit(command);
        }

        @Override
        public int transmit(ByteBuffer command, ByteBuffer response) throws CardException {
            return inner.getBasicChannel().transmit(command, response);
        }

        @Override
        public void close() throws CardException {
            throw new IllegalStateException("the basic channel cannot be closed");
        }
    }
}
