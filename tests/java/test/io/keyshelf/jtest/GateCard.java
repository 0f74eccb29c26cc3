package io.keyshelf.jtest;

import javax.smartcardio.ATR;
import javax.smartcardio.Card;
import javax.smartcardio.CardException;
import javax.smartcardio.CommandAPDU;
import javax.smartcardio.ResponseAPDU;

/**
 * A card in front of another that can hold one command at its door: once armed, the
 * next transmit reports that it entered and waits until the test opens the gate, so
 * a test can act while a native call is inside the card.
 */
final class GateCard extends BasicChannelCard {
    private final Card inner;
    private final Gate gate = new Gate();

    GateCard(Card inner) {
        this.inner = inner;
    }

    /** The next transmit stops at the gate. */
    void arm() {
        gate.arm();
    }

    /** Waits until a transmit is held at the gate. */
    boolean awaitEntered(long seconds) throws InterruptedException {
        return gate.awaitEntered(seconds);
    }

    /** Lets the held transmit, and every later one, through. */
    void release() {
        gate.release();
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
    public byte[] transmitControlCommand(int controlCode, byte[] command) throws CardException {
        return inner.transmitControlCommand(controlCode, command);
    }

    @Override
    protected ResponseAPDU transmit(CommandAPDU command) throws CardException {
        try {
            if (!gate.pass()) throw new CardException("gate never opened");
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new CardException("interrupted at the gate");
        }
        return inner.getBasicChannel().transmit(command);
    }
}
