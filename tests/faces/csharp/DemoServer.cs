// A talvor-server of a test's own, in a separate process: a fresh demo
// application in a scratch directory, served on free loopback ports.
// Calls into the library block, so the server cannot share the test's
// process.

using System;
using System.Diagnostics;
using System.IO;

sealed class DemoServer : IDisposable {
  // The demo application and its users, as talvor-server --init-demo
  // writes them (server/demo.cpp).
  public const string App = "demo";
  public static readonly string[] Viewer = { "viewer", "look-only" };  // level 0
  public static readonly string[] Manager = { "manager", "all-access" };  // level 2

  readonly string dir;
  readonly Process process;

  public string Address { get; private set; }

  public DemoServer(string binary) {
    dir = Path.Combine(Path.GetTempPath(), "talvor-csharp-" + Guid.NewGuid().ToString("N"));
    Directory.CreateDirectory(dir);
    try {
      using (Process init = Start(binary, "--init-demo", dir)) {
        init.StandardOutput.ReadToEnd();
        init.WaitForExit();
        if (init.ExitCode != 0) throw new Exception(binary + " --init-demo failed");
      }
      process = Start(binary, "--data", dir, "--port", "0");
      string line = process.StandardOutput.ReadLine();
      const string prefix = "listening on ";
      if (line == null || !line.StartsWith(prefix, StringComparison.Ordinal)) {
        throw new Exception("talvor-server said " + Check.Show(line) + ", not where it listens");
      }
      Address = line.Substring(prefix.Length).Trim();
    } catch {
      Dispose();
      throw;
    }
  }

  static Process Start(string binary, params string[] arguments) {
    // Mono splits the argument text as a shell would.
    string quoted = "\"" + string.Join("\" \"", arguments) + "\"";
    var info = new ProcessStartInfo(binary, quoted) {
      UseShellExecute = false,
      RedirectStandardOutput = true,
    };
    // The free counter preloaded into the tests is not the server's.
    info.EnvironmentVariables.Remove("LD_PRELOAD");
    return Process.Start(info);
  }

  public void Dispose() {
    if (process != null) {
      if (!process.HasExited) process.Kill();
      process.WaitForExit();
      process.Dispose();
    }
    Directory.Delete(dir, true);
  }
}
