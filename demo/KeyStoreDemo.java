import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.util.Arrays;
import java.util.List;
import javax.smartcardio.Card;
import javax.smartcardio.CardTerminal;
import javax.smartcardio.TerminalFactory;

/**
 * A short key-store session over libKeyShelfJx: open the token in the first reader
 * with a card (or the reader named by the first argument), log in, create a key
 * container, store and read back its files, list the containers, close.
 * Usage: java -Djava.library.path=DIR KeyStoreDemo [READER-NAME] [PIN]
 */
public final class KeyStoreDemo {
    public static void main(String[] args) throws Exception {
        System.loadLibrary("KeyShelfJx");
        String wanted = args.length > 0 ? args[0] : "";
        String pin = args.length > 1 ? args[1] : System.getenv().getOrDefault("KEYSHELF_DEMO_PIN", "");
        TerminalFactory factory = TerminalFactory.getDefault();
        CardTerminal terminal = null;
        for (int i = 0; i < 100 && terminal == null; i++) {
            List<CardTerminal> all = factory.terminals().list();
            for (CardTerminal t : all)
                if ((wanted.isEmpty() || t.getName().equals(wanted)) && t.isCardPresent()) { terminal = t; break; }
            if (terminal == null) Thread.sleep(100);
        }
        if (terminal == null) {
            System.err.println("demo: no reader with a card" + (wanted.isEmpty() ? "" : " named " + wanted));
            System.exit(1);
        }
        System.out.println("reader:    " + terminal.getName());
        Card card = terminal.connect("*");
        long token = KeyShelfJx.createToken(card);
        try {
            System.out.println("serial:    " + KeyShelfJx.getTokenSerial(card, token));
            if (pin.isEmpty()) {
                System.out.println("login:     skipped (no PIN given; set KEYSHELF_DEMO_PIN or pass it second)");
            } else {
                try {
                    KeyShelfJx.Login(card, token, pin.toCharArray());
                    System.out.println("login:     ok");
                } catch (Exception e) {  // the natives declare nothing: IOException or UnrecoverableKeyException
                    System.out.println("login:     skipped (" + e.getClass().getSimpleName() + ": " + e.getMessage() + ")");
                }
            }
            KeyShelfJx.openDir(card, token, "d1", true);
            System.out.println("container: d1 open");
            byte[] header = "demo key container header".getBytes("UTF-8");
            try {
                KeyShelfJx.storeFile(card, token, 0xF003, header, false);
                byte[] back = new byte[header.length];
                KeyShelfJx.readFile(card, token, 0xF003, back.length, back);
                System.out.println("F003:      stored " + header.length + " bytes, file size "
                        + KeyShelfJx.getFileSize(card, token, 0xF003) + ", read back "
                        + (Arrays.equals(header, back) ? "equal" : "DIFFERENT"));
                if (!Arrays.equals(header, back)) System.exit(1);
            } catch (Exception e) {
                // The first store of a key-container file takes its access from the user PIN's designator.
                System.out.println("F003:      not stored (" + e.getClass().getSimpleName() + ": " + e.getMessage() + ")");
            }
            System.out.println("list:      " + KeyShelfJx.getDirList(card, token));
            KeyShelfJx.closeDir(card, token, false);
            System.out.println("container: closed");
        } finally {
            KeyShelfJx.destroyToken(card, token);
            card.disconnect(false);
        }
        System.out.println("demo: done");
    }
}
