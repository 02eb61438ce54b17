// Texts through a real server: any bytes written and read back unchanged,
// bytes that are not UTF-8 read without an exception and written back as
// they were, null and empty texts, the value the library trims, and every
// text result freed once, after the string callback has seen it.
//
// Needs free_watch preloaded (LD_PRELOAD) to see the frees.

using System;
using System.Collections.Generic;
using System.Linq;
using System.Runtime.InteropServices;
using System.Text;

using api = talvor_csharp_api;

static class TestTexts {
  [DllImport("talvor_free_watch")]
  static extern void talvor_watch_free(IntPtr pointer);

  [DllImport("talvor_free_watch")]
  static extern int talvor_watched_frees();

  static int handle;

  public static void Run(string server) {
    using (var demo = new DemoServer(server)) {
      if (!Check.Equal(1, api.TalvorConnect(demo.Address), "connect to " + demo.Address)) return;
      string[] m = DemoServer.Manager;
      handle = api.TalvorSearch(DemoServer.App, "customers", 0, 0, "name=Carlos Mendes", m[0], m[1]);
      if (!Check.Equal(1, api.TalvorTotal(handle), "one customer found")) return;

      Check.Section("texts are written and read back byte for byte", RoundTrips);
      Check.Section("bytes that are not UTF-8 are read and written back unchanged", NotUtf8);
      Check.Section("each text result reaches the callback once and is freed once after it", Frees);
      Check.Section("null and empty texts", NullAndEmpty);
      Check.Section("the library trims a copy of the value", Trimmed);

      api.TalvorClose(handle);
      api.TalvorDisconnect();
      Check.Equal(0, api.TalvorError(), "disconnect");
    }
  }

  // What the database holds in a field of the customer, read as hex by a
  // program: the bytes themselves, whatever the value functions do.
  static byte[] Stored(string field) {
    string hex = api.TalvorRunProgram(handle, "SELECT hex(" + field + ") FROM customers WHERE rowid = :rowid", "", 1);
    return Unhex(hex.TrimEnd('\n'));
  }

  static byte[] Unhex(string hex) {
    return Enumerable.Range(0, hex.Length / 2).Select(i => Convert.ToByte(hex.Substring(2 * i, 2), 16)).ToArray();
  }

  static string Hex(byte[] bytes) {
    return BitConverter.ToString(bytes).Replace("-", "");
  }

  // The string that stands for these bytes: ASCII as itself, every other
  // byte as its escape U+DC00 + byte.
  static string Escaped(IEnumerable<int> bytes) {
    return new string(bytes.Select(b => (char)(b < 0x80 ? b : 0xDC00 + b)).ToArray());
  }

  static void RoundTrips() {
    // Blanks, CR and LF are left out of the every-byte row: the library
    // trims them at the ends.
    var everyByte = Enumerable.Range(1, 255).Where(b => b != ' ' && b != '\r' && b != '\n').ToArray();
    var rows = new[] {
      new { What = "UTF-8 beyond ASCII", Text = "\u00E9", Bytes = Encoding.UTF8.GetBytes("\u00E9") },
      new { What = "CJK", Text = "\u6F22\u5B57", Bytes = Encoding.UTF8.GetBytes("\u6F22\u5B57") },
      new { What = "mixed scripts", Text = "\u0141\u00F3d\u017A \u2013 \u6771\u4EAC \u2713", Bytes = Encoding.UTF8.GetBytes("\u0141\u00F3d\u017A \u2013 \u6771\u4EAC \u2713") },
      new { What = "beyond the BMP", Text = "\uD83D\uDE00", Bytes = Encoding.UTF8.GetBytes("\uD83D\uDE00") },
      new { What = "\\xff\\xfe as escapes", Text = Escaped(new[] { 0xFF, 0xFE }), Bytes = new byte[] { 0xFF, 0xFE } },
      new { What = "every byte as itself or its escape", Text = Escaped(everyByte), Bytes = everyByte.Select(b => (byte)b).ToArray() },
    };
    foreach (var row in rows) {
      api.TalvorSetValue(handle, "city", row.Text);
      Check.Equal(0, api.TalvorError(), row.What + ": written");
      Check.Equal(row.Bytes, Stored("city"), row.What + ": stored");
      Check.Equal(row.Text, api.TalvorGetValue(handle, "city"), row.What + ": read back");
      Check.Equal(Hex(row.Bytes) + "\n", api.TalvorRunProgram(handle, "SELECT hex(:arg)", row.Text, 1),
                  row.What + ": as a program's argument");
    }
  }

  static void NotUtf8() {
    // Put there by the server itself, not by our encoder.
    api.TalvorRunProgram(handle, "UPDATE customers SET email = CAST(X'FFFE41C3' AS TEXT) WHERE rowid = :rowid", "", 0);
    Check.Equal(0, api.TalvorError(), "the program stored the bytes");
    Check.Equal(new byte[] { 0xFF, 0xFE, 0x41, 0xC3 }, Stored("email"), "the bytes stored");
    string expected = Escaped(new[] { 0xFF, 0xFE, 0x41, 0xC3 });

    string value = api.TalvorGetValue(handle, "email");
    Check.Equal(expected, value, "read as a value");
    Check.Equal(expected + "\n", api.TalvorRunProgram(handle, "SELECT email FROM customers WHERE rowid = :rowid", "", 1),
                "read in a program's answer");

    api.TalvorSetValue(handle, "city", value);
    Check.Equal(0, api.TalvorError(), "written back");
    Check.Equal(Stored("email"), Stored("city"), "written back byte for byte");
    Check.Equal("FFFE41C3\n", api.TalvorRunProgram(handle, "SELECT hex(:arg)", value, 1), "passed back as a program's argument");
  }

  static void Frees() {
    // The counter sees frees at all: it is preloaded.
    IntPtr probe = Marshal.AllocHGlobal(16);
    int before = talvor_watched_frees();
    talvor_watch_free(probe);
    Marshal.FreeHGlobal(probe);
    if (!Check.Equal(before + 1, talvor_watched_frees(), "a watched free is counted (is free_watch preloaded?)")) return;

    api.TalvorRunProgram(handle, "UPDATE customers SET email = CAST(X'C0FF' AS TEXT) WHERE rowid = :rowid", "", 0);
    var original = talvor_csharp_apiPINVOKE.SWIGStringHelper.stringDelegate;
    var seen = new List<IntPtr>();
    int freedBeforeCallback = -1;
    // The registered callback itself does the work; this one watches the
    // text it is given.
    var watching = new talvor_csharp_apiPINVOKE.SWIGStringHelper.SWIGStringDelegate(text => {
      seen.Add(text);
      freedBeforeCallback = talvor_watched_frees();
      talvor_watch_free(text);
      return original(text);
    });
    var calls = new[] {
      new { What = "a value", Call = (Func<string>)(() => api.TalvorGetValue(handle, "name")), Result = "Carlos Mendes" },
      new { What = "a value that is not UTF-8", Call = (Func<string>)(() => api.TalvorGetValue(handle, "email")), Result = "\uDCC0\uDCFF" },
      new { What = "a program's answer that is not UTF-8", Call = (Func<string>)(() => api.TalvorRunProgram(handle, "SELECT email FROM customers WHERE rowid = :rowid", "", 1)), Result = "\uDCC0\uDCFF\n" },
      new { What = "the empty text of a refused read", Call = (Func<string>)(() => api.TalvorGetValue(5, "name")), Result = "" },
      new { What = "the empty text of a refused program", Call = (Func<string>)(() => api.TalvorRunProgram(1024, "SELECT 1", "", 1)), Result = "" },
    };
    talvor_csharp_apiPINVOKE.SWIGStringHelper.SWIGRegisterStringCallback_talvor_csharp_api(watching);
    try {
      foreach (var row in calls) {
        seen.Clear();
        int freed = talvor_watched_frees();
        Check.Equal(row.Result, row.Call(), row.What + ": the result");
        Check.Equal(1, seen.Count, row.What + ": callbacks");
        Check.True(seen.All(p => p != IntPtr.Zero), row.What + ": the callback is given a text");
        Check.Equal(freed, freedBeforeCallback, row.What + ": nothing watched was freed before the callback");
        Check.Equal(freed + 1, talvor_watched_frees(), row.What + ": the text is freed after the callback");
      }
    } finally {
      talvor_csharp_apiPINVOKE.SWIGStringHelper.SWIGRegisterStringCallback_talvor_csharp_api(original);
      talvor_watch_free(IntPtr.Zero);
    }
  }

  static void NullAndEmpty() {
    string[] m = DemoServer.Manager;
    string count = api.TalvorRunProgram(handle, "SELECT count(*) FROM customers", "", 1).TrimEnd('\n');
    int all = api.TalvorSearch(DemoServer.App, "customers", 0, 0, "", m[0], m[1]);
    Check.Equal(count, api.TalvorTotal(all).ToString(), "the empty search text finds every record");
    api.TalvorClose(all);
    Check.Equal(-1, api.TalvorSearch(DemoServer.App, "customers", 0, 0, null, m[0], m[1]), "a null search text is refused");
    Check.Equal(0, api.TalvorError(), "... by the library, before it sends anything");

    foreach (string value in new[] { "", null }) {
      string what = value == null ? "null" : "the empty text";
      api.TalvorSetValue(handle, "city", "Porto");
      api.TalvorSetValue(handle, "city", value);
      Check.Equal(0, api.TalvorError(), what + ": written");
      Check.Equal("''\n", api.TalvorRunProgram(handle, "SELECT quote(city) FROM customers WHERE rowid = :rowid", "", 1),
                  what + ": stored as the empty text");
      Check.Equal("", api.TalvorGetValue(handle, "city"), what + ": read back as the empty string");
    }

    Check.Equal("", api.TalvorGetValue(handle, null), "a null field name reads the empty text");
    Check.True(api.TalvorError() != 0, "... refused by the server");
  }

  static void Trimmed() {
    // The same interned literal twice: were it ever written to, the
    // second use would show it. The comparison is with a string of its own.
    string unchanged = new string(' ', 2) + "Lund" + new string(' ', 3);
    for (int round = 1; round <= 2; ++round) {
      string padded = "  Lund   ";
      api.TalvorSetValue(handle, "city", padded);
      Check.Equal(0, api.TalvorError(), "round " + round + ": written");
      Check.Equal(unchanged, padded, "round " + round + ": the caller's string is unchanged");
      Check.Equal(Encoding.UTF8.GetBytes("Lund"), Stored("city"), "round " + round + ": the trimmed value is stored");
      Check.Equal("Lund", api.TalvorGetValue(handle, "city"), "round " + round + ": and read back");
    }
  }
}
