package opencard.core.terminal;

/** Test stand-in: the identification of a card, its answer-to-reset. */
public class CardID {
    private final byte[] atr;

    public CardID(byte[] atr) {
        this.atr = atr;
    }

    public byte[] getATR() {
        return atr;
    }
}
