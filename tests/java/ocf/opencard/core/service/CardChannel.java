package opencard.core.service;

import opencard.core.terminal.CommandAPDU;
import opencard.core.terminal.ResponseAPDU;

/** Test stand-in: the channel a card service sends its command APDUs over. */
public abstract class CardChannel {
    public abstract ResponseAPDU sendCommandAPDU(CommandAPDU command);
}
