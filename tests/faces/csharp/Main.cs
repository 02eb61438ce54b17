// The C# library's tests, one group per run:
//   mono talvor_csharp_api_tests.exe module
//   mono talvor_csharp_api_tests.exe texts|session TALVOR_SERVER
// The assembly comes from MONO_PATH, its native library from beside it.

using System;

static class TestMain {
  static int Main(string[] args) {
    string group = args.Length > 0 ? args[0] : "";
    if (group == "module" && args.Length == 1) {
      TestModule.Run();
    } else if (group == "texts" && args.Length == 2) {
      TestTexts.Run(args[1]);
    } else if (group == "session" && args.Length == 2) {
      TestSession.Run(args[1]);
    } else {
      Console.Error.WriteLine("usage: talvor_csharp_api_tests.exe module | texts SERVER | session SERVER");
      return 2;
    }
    return Check.Finish();
  }
}
