package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Duration;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Starting and stopping the simulator process, with stand-in executables and, where built, the real one. */
class CardSimProcessTest {
    @TempDir
    Path dir;

    private Path script(String name, String body) throws IOException {
        Path p = dir.resolve(name);
        Files.writeString(p, "#!/bin/sh\n" + body + "\n", StandardCharsets.UTF_8);
        assertTrue(p.toFile().setExecutable(true));
        return p;
    }

    @Test
    void portLineIsFoundAmongOtherOutputAndStopEndsTheProcess() throws Exception {
        Path args = dir.resolve("args");
        Path exe = script("announces", "echo \"$@\" > '" + args + "'\necho 'cardsim: model java ready'\n"
                + "echo 'PORT 40123'\nexec sleep 30");
        CardSimProcess sim = CardSimProcess.start(exe, "java", Duration.ofSeconds(5));
        try {
            assertEquals(40123, sim.port());
            assertEquals("--card java --tcp 0", Files.readString(args).trim());
            assertTrue(sim.isAlive());
        } finally {
            sim.close();
        }
        assertFalse(sim.isAlive());
    }

    @Test
    void processThatExitsWithoutPortLineIsReportedWithItsOutput() throws Exception {
        Path exe = script("gives-up", "echo 'unknown card kind'\nexit 2");
        IOException e = assertThrows(IOException.class, () -> CardSimProcess.start(exe, "java", Duration.ofSeconds(5)));
        assertTrue(e.getMessage().contains("unknown card kind"), e.getMessage());
    }

    @Test
    void processThatNeverAnnouncesIsStoppedAfterTheTimeout() throws Exception {
        Path pid = dir.resolve("pid");
        Path exe = script("silent", "echo $$ > '" + pid + "'\nexec sleep 30");
        assertThrows(IOException.class, () -> CardSimProcess.start(exe, "java", Duration.ofMillis(500)));
        long id = Long.parseLong(Files.readString(pid).trim());
        assertFalse(ProcessHandle.of(id).map(ProcessHandle::isAlive).orElse(false));
    }

    @Test
    void realSimulatorAnswersOverTheVpcdLink() throws Exception {
        assumeTrue(CardSimProcess.executable().isPresent(),
                "cardsim_server is not built on this tree (system property " + CardSimProcess.PROPERTY + " unset)");
        try (CardSimProcess sim = CardSimProcess.start("java"); VpcdCard card = sim.connect()) {
            assertTrue(card.getATR().getBytes().length >= 2, "ATR too short");
            long handle = SenderBridge.open(card);
            try {
                // Whatever the applet says to a bare SELECT, it says it with a status word.
                byte[] answer = SenderBridge.send(handle, card, Hex.bytes("00 A4 04 00 00"));
                assertTrue(answer.length >= 2, "no status word: " + Hex.text(answer));
            } finally {
                SenderBridge.close(handle);
            }
        }
    }
}
