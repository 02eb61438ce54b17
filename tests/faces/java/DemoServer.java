import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;

/**
 * A talvor-server of a test's own: a fresh demo application in a scratch
 * directory, served on free loopback ports by the built binary (the system
 * property talvor.server). It runs as another process: the module blocks the
 * calling thread until the server answers.
 */
final class DemoServer implements AutoCloseable {
  static final String APPLICATION = "demo";

  /** Where a client connects: "HOST:PORT:NOTIFY_PORT". */
  final String address;
  /** A user of level 2 (everything), as --init-demo lists them. */
  final String user;
  final String password;

  private final Path dir;
  private Process process;

  DemoServer() throws IOException, InterruptedException {
    String binary = System.getProperty("talvor.server");
    if (binary == null) throw new IllegalStateException("-Dtalvor.server names no talvor-server");
    dir = Files.createTempDirectory("talvor-java-");
    try {
      // "  manager  password all-access   level 2"
      Process init = new ProcessBuilder(binary, "--init-demo", dir.toString())
          .redirectError(ProcessBuilder.Redirect.INHERIT).start();
      String listing = new String(init.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
      if (init.waitFor() != 0) throw new IllegalStateException("talvor-server --init-demo failed");
      Matcher m = Pattern.compile("(?m)^\\s*(\\S+)\\s+password\\s+(\\S+)\\s+level\\s+2\\s*$").matcher(listing);
      if (!m.find()) throw new IllegalStateException("no user of level 2 in: " + listing);
      user = m.group(1);
      password = m.group(2);

      process = new ProcessBuilder(binary, "--data", dir.toString(), "--port", "0")
          .redirectError(ProcessBuilder.Redirect.INHERIT).start();
      String line = new BufferedReader(
          new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8)).readLine();
      if (line == null || !line.startsWith("listening on ")) {
        throw new IllegalStateException("talvor-server did not start: " + line);
      }
      address = line.substring("listening on ".length()).trim();
    } catch (IOException | InterruptedException | RuntimeException e) {
      close();
      throw e;
    }
  }

  @Override
  public void close() throws IOException {
    if (process != null) {
      process.destroy();
      process.onExit().join();
      process = null;
    }
    try (Stream<Path> files = Files.walk(dir)) {
      for (Path p : (Iterable<Path>) files.sorted(Comparator.reverseOrder())::iterator) {
        Files.deleteIfExists(p);
      }
    }
  }
}
