package io.keyshelf.jtest;

import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * A door for one command: once armed, the next command that passes reports that it
 * entered and waits until the test opens the gate, so a test can act while a native
 * call is inside the card.
 */
final class Gate {
    private volatile CountDownLatch entered;
    private volatile CountDownLatch open;

    /** The next command stops at the gate. */
    void arm() {
        open = new CountDownLatch(1);
        entered = new CountDownLatch(1);
    }

    /** Waits until a command is held at the gate. */
    boolean awaitEntered(long seconds) throws InterruptedException {
        return entered.await(seconds, TimeUnit.SECONDS);
    }

    /** Lets the held command, and every later one, through. */
    void release() {
        CountDownLatch o = open;
        open = null;
        if (o != null) o.countDown();
    }

    /** Called by every command on its way in; false when the gate never opened. */
    boolean pass() throws InterruptedException {
        CountDownLatch o = open;
        if (o == null) return true;
        entered.countDown();
        return o.await(30, TimeUnit.SECONDS);
    }
}
