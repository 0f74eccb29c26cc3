import io.keyshelf.pellar.zudezozud.zid.z6ez.KeyShelfJx;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;
import javax.smartcardio.Card;
import javax.smartcardio.CardTerminal;
import javax.smartcardio.TerminalFactory;

/**
 * A short key-store session over libKeyShelfJx: open the token in the first reader
 * with a card (or the reader named by the first argument), log in, create a key
 * container, store and read back its seven files, list the containers, log out, close.
 * Usage: java -Djava.library.path=DIR KeyStoreDemo [READER-NAME] [PIN [WHERE-THE-PIN-CAME-FROM]]
 * Without a PIN (second argument or KEYSHELF_DEMO_PIN) the login is skipped.
 */
public final class KeyStoreDemo {
    /** The seven key-container files and the sizes a new one starts with. */
    private static final int[][] FILES = {
        {0xF001, 64}, {0xF002, 80}, {0xF003, 2048}, {0xF004, 64}, {0xF005, 80}, {0xF006, 96}, {0xF007, 8}};

    /** The container's directory name (a hexadecimal number); KEYSHELF_DEMO_DIR overrides it. */
    private static final String DIR = System.getenv().getOrDefault("KEYSHELF_DEMO_DIR", "d1");

    public static void main(String[] args) throws Exception {
        System.loadLibrary("KeyShelfJx");
        String wanted = args.length > 0 ? args[0] : "";
        String pin = args.length > 1 ? args[1] : System.getenv().getOrDefault("KEYSHELF_DEMO_PIN", "");
        String pinSource = args.length > 2 ? args[2] : (args.length > 1 ? "given" : "KEYSHELF_DEMO_PIN");
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
        boolean ok = true;
        long token = KeyShelfJx.createToken(card);
        try {
            System.out.println("serial:    " + KeyShelfJx.getTokenSerial(card, token));
            if (pin.isEmpty()) {
                System.out.println("login:     skipped (no PIN given; set KEYSHELF_DEMO_PIN or pass it second)");
            } else {
                System.out.println("pin:       " + pin + " (" + pinSource + ")");
                KeyShelfJx.Login(card, token, pin.toCharArray());
                System.out.println("login:     ok");
            }
            KeyShelfJx.openDir(card, token, DIR, true);
            System.out.println("container: " + DIR + " open");
            for (int[] file : FILES) ok &= storeAndReadBack(card, token, file[0], file[1]);
            System.out.println("list:      " + KeyShelfJx.getDirList(card, token));
            KeyShelfJx.closeDir(card, token, false);
            System.out.println("container: closed");
            if (!pin.isEmpty()) {
                KeyShelfJx.Logout(card, token);
                System.out.println("logout:    ok");
            }
        } catch (Exception e) {  // the natives declare nothing: IOException or UnrecoverableKeyException
            System.out.println("demo:      failed (" + e.getClass().getSimpleName() + ": " + e.getMessage() + ")");
            ok = false;
        } finally {
            KeyShelfJx.destroyToken(card, token);
            card.disconnect(false);
        }
        System.out.println(ok ? "demo: done" : "demo: FAILED");
        System.exit(ok ? 0 : 1);
    }

    /** Stores a text shorter than the file's initial size and reads the whole file back. */
    private static boolean storeAndReadBack(Card card, long token, int fileId, int initialSize) {
        String name = String.format("F%03X", fileId & 0xFFF);
        byte[] data = String.format("%s/%04X", DIR, fileId).getBytes(StandardCharsets.US_ASCII);
        data = Arrays.copyOf(data, Math.min(data.length, initialSize));
        KeyShelfJx.storeFile(card, token, fileId, data, false);
        int size = KeyShelfJx.getFileSize(card, token, fileId);
        byte[] back = new byte[size];
        KeyShelfJx.readFile(card, token, fileId, back.length, back);
        boolean equal = size >= data.length && Arrays.equals(data, Arrays.copyOf(back, data.length));
        System.out.printf("%-10s stored %d bytes, file size %d, read back %s%n", name + ":", data.length, size,
                equal ? "equal" : "DIFFERENT");
        return equal;
    }
}
