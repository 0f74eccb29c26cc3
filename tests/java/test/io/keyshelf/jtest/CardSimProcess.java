package io.keyshelf.jtest;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import java.util.Optional;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import javax.smartcardio.CardException;

/**
 * Runs the card simulator as a child process: {@code cardsim_server --card NAME
 * --tcp 0} picks a free port and announces it as a line {@code PORT n} on its
 * standard output; the simulator's own messages go to the test's standard error.
 */
final class CardSimProcess implements AutoCloseable {
    static final String PROPERTY = "keyshelf.cardsim";
    static final Duration START_TIMEOUT = Duration.ofSeconds(10);
    private static final Pattern PORT_LINE = Pattern.compile("^PORT (\\d{1,5})\\s*$");

    private final Process process;
    private final int port;

    private CardSimProcess(Process process, int port) {
        this.process = process;
        this.port = port;
    }

    /** The simulator named by the system property, when it is set and exists. */
    static Optional<Path> executable() {
        String path = System.getProperty(PROPERTY, "");
        if (path.isEmpty() || !Files.isExecutable(Path.of(path))) return Optional.empty();
        return Optional.of(Path.of(path));
    }

    static CardSimProcess start(String card) throws IOException {
        Path exe = executable().orElseThrow(
                () -> new IOException("no card simulator: system property " + PROPERTY + " names no executable"));
        return start(exe, card, START_TIMEOUT);
    }

    /** As {@link #start(String)}, with further simulator options (--serial, --manager-version, ...). */
    static CardSimProcess start(String card, String... options) throws IOException {
        Path exe = executable().orElseThrow(
                () -> new IOException("no card simulator: system property " + PROPERTY + " names no executable"));
        return start(exe, card, START_TIMEOUT, options);
    }

    static CardSimProcess start(Path executable, String card, Duration timeout, String... options) throws IOException {
        List<String> command = new ArrayList<>(List.of(executable.toString(), "--card", card, "--tcp", "0"));
        command.addAll(List.of(options));
        Process process = new ProcessBuilder(command)
                .redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
        process.getOutputStream().close();
        CompletableFuture<Integer> announced = new CompletableFuture<>();
        List<String> seen = new ArrayList<>();
        Thread reader = new Thread(() -> drain(process, announced, seen), "cardsim-stdout");
        reader.setDaemon(true);
        reader.start();
        try {
            return new CardSimProcess(process, announced.get(timeout.toMillis(), TimeUnit.MILLISECONDS));
        } catch (ExecutionException | TimeoutException e) {
            stop(process);
            String output;
            synchronized (seen) {
                output = String.join("\n", seen);
            }
            throw new IOException(executable + " announced no PORT line within " + timeout.toMillis()
                    + " ms; its output was:\n" + output, e);
        } catch (InterruptedException e) {
            stop(process);
            Thread.currentThread().interrupt();
            throw new IOException("interrupted while starting " + executable, e);
        }
    }

    // Reads stdout to the end so the simulator never blocks on a full pipe.
    private static void drain(Process process, CompletableFuture<Integer> announced, List<String> seen) {
        try (BufferedReader r = new BufferedReader(
                new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
            String line;
            while ((line = r.readLine()) != null) {
                if (!announced.isDone()) {
                    synchronized (seen) {
                        seen.add(line);
                    }
                    Matcher m = PORT_LINE.matcher(line);
                    if (m.matches()) {
                        int port = Integer.parseInt(m.group(1));
                        if (port > 0 && port <= 0xFFFF) announced.complete(port);
                    }
                }
            }
        } catch (IOException e) {
            // the process went away; the waiting side learns of it below
        }
        announced.completeExceptionally(new IOException("simulator closed its output"));
    }

    int port() {
        return port;
    }

    boolean isAlive() {
        return process.isAlive();
    }

    /** A card over a fresh link to the simulator, powered on and with its ATR read. */
    VpcdCard connect() throws CardException {
        return VpcdCard.connect("127.0.0.1", port);
    }

    @Override
    public void close() {
        stop(process);
    }

    private static void stop(Process process) {
        process.destroy();
        try {
            if (!process.waitFor(5, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                process.waitFor(5, TimeUnit.SECONDS);
            }
        } catch (InterruptedException e) {
            process.destroyForcibly();
            Thread.currentThread().interrupt();
        }
    }
}
