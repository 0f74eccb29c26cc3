package opencard.core.service;

/**
 * Test stand-in: a card service. Its channel is allocated and released by its
 * owner around the calls that use it; getCardChannel answers it meanwhile.
 */
public abstract class CardService {
    public abstract CardChannel getCardChannel();

    public abstract void allocateCardChannel();

    public abstract void releaseCardChannel();

    public abstract SmartCard getCard();
}
