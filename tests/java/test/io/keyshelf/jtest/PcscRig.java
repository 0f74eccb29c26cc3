package io.keyshelf.jtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.IOException;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Assumptions;

/**
 * The pcscd of a test JVM (pcsc/pcscd-rig.sh with the directory that the harness
 * names in keyshelf.pcscRig and keyshelf.pcscRigDir). vpcd waits for cards on
 * {@link #port} (reader "... 00 00") and port + 1 ("... 00 01").
 */
final class PcscRig {
    private final String script;
    private final Path dir;
    final int port;

    private PcscRig(String script, Path dir, int port) {
        this.script = script;
        this.dir = dir;
        this.port = port;
    }

    static String property(String name) {
        String v = System.getProperty(name);
        if (v == null || v.isEmpty()) fail("system property " + name + " is not set: the harness is mis-wired");
        return v;
    }

    /** Starts it; aborts the caller's tests, with the reason, where pcscd cannot start on this machine. */
    static PcscRig start() throws IOException, InterruptedException {
        String script = property("keyshelf.pcscRig");
        Path dir = Path.of(property("keyshelf.pcscRigDir")).toAbsolutePath();
        assertEquals(dir.resolve("pcscd.comm").toString(), System.getenv("PCSCLITE_CSOCK_NAME"),
                "this JVM's PCSCLITE_CSOCK_NAME must name the rig's socket, libpcsclite reads it once");
        int port = twoFreePorts();
        try {
            run("bash", script, "start", dir.toString(), Integer.toString(port));
        } catch (IOException e) {
            Assumptions.abort("pcscd cannot start on this machine: " + e.getMessage());
        }
        return new PcscRig(script, dir, port);
    }

    void stop() throws IOException, InterruptedException {
        run("bash", script, "stop", dir.toString());
    }

    static String run(String... command) throws IOException, InterruptedException {
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        p.getOutputStream().close();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (!p.waitFor(30, TimeUnit.SECONDS)) {
            p.destroyForcibly();
            throw new IOException(String.join(" ", command) + " did not finish");
        }
        if (p.exitValue() != 0) throw new IOException(out.trim());
        return out;
    }

    // vpcd listens on PORT for its first slot and PORT+1 for its second.
    private static int twoFreePorts() throws IOException {
        for (int attempt = 0; attempt < 20; attempt++) {
            int p;
            try (ServerSocket s = new ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
                p = s.getLocalPort();
            }
            if (p >= 65535) continue;
            try (ServerSocket s = new ServerSocket(p + 1)) {
                if (s.isBound()) return p;
            } catch (IOException busy) {
                // try another pair
            }
        }
        throw new IOException("no two consecutive free ports");
    }
}
