package opencard.core.service;

import opencard.core.terminal.CardID;

/** Test stand-in: the card a service works with. */
public abstract class SmartCard {
    public abstract CardID getCardID();
}
