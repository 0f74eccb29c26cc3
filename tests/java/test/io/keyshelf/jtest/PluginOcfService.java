package io.keyshelf.jtest;

import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.UnaryOperator;
import opencard.core.service.CardChannel;
import opencard.core.service.CardService;
import opencard.core.service.SmartCard;
import opencard.core.terminal.CommandAPDU;
import opencard.core.terminal.ResponseAPDU;

/**
 * The card service of a plug-in, for KeyShelfOcfTest to load through a class loader
 * of its own next to that loader's copy of the framework: its channel then takes and
 * answers the APDUs of that copy. It names nothing but the framework and the JDK;
 * its link to the card and its count of commands are of JDK types, shared with the
 * test across the loaders.
 */
public final class PluginOcfService extends CardService {
    private final UnaryOperator<byte[]> link;
    private final AtomicInteger commands;

    public PluginOcfService(UnaryOperator<byte[]> link, AtomicInteger commands) {
        this.link = link;
        this.commands = commands;
    }

    @Override
    public CardChannel getCardChannel() {
        return new CardChannel() {
            @Override
            public ResponseAPDU sendCommandAPDU(CommandAPDU command) {
                commands.incrementAndGet();
                return new ResponseAPDU(link.apply(command.getBytes()));
            }
        };
    }

    @Override
    public void allocateCardChannel() {}

    @Override
    public void releaseCardChannel() {}

    /** No card to name: the token is found by its applets' identifiers. */
    @Override
    public SmartCard getCard() {
        return null;
    }
}
