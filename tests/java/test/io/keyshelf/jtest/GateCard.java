package io.keyshelf.jtest;

import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
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
    private volatile CountDownLatch entered;
    private volatile CountDownLatch open;

    GateCard(Card inner) {
        this.inner = inner;
    }

    /** The next transmit stops at the gate. */
    void arm() {
        open = new CountDownLatch(1);
        entered = new CountDownLatch(1);
    }

    /** Waits until a transmit is held at the gate. */
    boolean awaitEntered(long seconds) throws InterruptedException {
        return entered.await(seconds, TimeUnit.SECONDS);
    }

    /** Lets the held transmit, and every later one, through. */
    void release() {
        CountDownLatch o = open;
        open = null;
        if (o != null) o.countDown();
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
        CountDownLatch o = open;
        if (o != null) {
            entered.countDown();
            try {
                if (!o.await(30, TimeUnit.SECONDS)) throw new CardException("gate never opened");
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw new CardException("interrupted at the gate");
            }
        }
        return inner.getBasicChannel().transmit(command);
    }
}
