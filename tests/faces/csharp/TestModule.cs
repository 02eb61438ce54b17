// The assembly and its library without a server: the declared methods, how
// arguments reach the library (a refused call shows in the error code, and
// a call that never reached the library leaves the code of the one
// before), the string callback and its replacement, and the text codec.

using System;
using System.Collections.Generic;
using System.Linq;
using System.Reflection;
using System.Text;

using api = talvor_csharp_api;

static class TestModule {
  sealed class Signature {
    public readonly string Name;
    public readonly Type Result;
    public readonly Type[] Parameters;

    public Signature(string name, Type result, params Type[] parameters) {
      Name = name;
      Result = result;
      Parameters = parameters;
    }

    public override string ToString() {
      return Result.Name + " " + Name + "(" + string.Join(", ", Parameters.Select(p => p.Name)) + ")";
    }
  }

  static readonly Type S = typeof(string);
  static readonly Type I = typeof(int);
  static readonly Type V = typeof(void);

  // One method for each public function, with the library's parameter
  // types; the void ones return nothing.
  static readonly Signature[] Expected = {
    new Signature("TalvorConnect", I, S),
    new Signature("TalvorDisconnect", V),
    new Signature("TalvorError", I),
    new Signature("TalvorSearch", I, S, S, I, I, S, S, S),
    new Signature("TalvorClose", V, I),
    new Signature("TalvorTotal", I, I),
    new Signature("TalvorSetCurrentPosition", V, I, I),
    new Signature("TalvorGetCurrentPosition", I, I),
    new Signature("TalvorLocked", I, I),
    new Signature("TalvorGetValue", S, I, S),
    new Signature("TalvorSetValue", V, I, S, S),
    new Signature("TalvorCreateNewRecord", V, I),
    new Signature("TalvorRemoveRecord", V, I),
    new Signature("TalvorDeleteRecord", V, I),
    new Signature("TalvorSort", V, I, S),
    new Signature("TalvorSubSet", I, I, S),
    new Signature("TalvorParent", I, I),
    new Signature("TalvorReparent", V, I, S, I),
    new Signature("TalvorRunProgram", S, I, S, S, I),
  };

  public static void Run() {
    Check.Section("the class declares one static method per function", DeclaredMethods);
    Check.Section("calls reach the library, which leaves its code", RefusedCalls);
    Check.Section("texts without a byte form are refused before the call", RefusedTexts);
    Check.Section("a second string callback takes over the text results", ReplacedCallback);
    Check.Section("decoding: byte strings and the strings they give", DecodeTable);
    Check.Section("decoding agrees with a strict decoder and is undone by encoding", DecodeEverything);
    Check.Section("encoding: strings and the bytes they give", EncodeTable);
  }

  static void DeclaredMethods() {
    var declared = typeof(api).GetMethods(BindingFlags.Public | BindingFlags.Static | BindingFlags.DeclaredOnly)
        .Select(m => new Signature(m.Name, m.ReturnType, m.GetParameters().Select(p => p.ParameterType).ToArray()))
        .Select(s => s.ToString())
        .OrderBy(s => s, StringComparer.Ordinal);
    var expected = Expected.Select(s => s.ToString()).OrderBy(s => s, StringComparer.Ordinal);
    Check.Equal(expected.ToList(), declared.ToList(), "public static methods");
  }

  // Leaves the library's last-error code at 11 (a close of the empty slot
  // 5) or 12 (a close of the handle 1024, outside the table).
  static void SetCode(int code) {
    api.TalvorClose(code == 11 ? 5 : 1024);
    Check.Equal(code, api.TalvorError(), "the code is set to " + code);
  }

  sealed class Call {
    public readonly string What;
    public readonly Func<object> Body;
    public readonly object Result;  // null for the void methods
    public readonly int Code;

    public Call(string what, Func<object> body, object result, int code) {
      What = what;
      Body = body;
      Result = result;
      Code = code;
    }
  }

  static Func<object> Void(Action body) {
    return () => {
      body();
      return null;
    };
  }

  static void RefusedCalls() {
    string[] m = DemoServer.Manager;
    var calls = new[] {
      new Call("TalvorClose(5), an empty slot", Void(() => api.TalvorClose(5)), null, 11),
      new Call("TalvorClose(1024)", Void(() => api.TalvorClose(1024)), null, 12),
      new Call("TalvorClose(-1)", Void(() => api.TalvorClose(-1)), null, 12),
      new Call("TalvorSetCurrentPosition(5, 1)", Void(() => api.TalvorSetCurrentPosition(5, 1)), null, 11),
      new Call("TalvorSetValue(5, ...)", Void(() => api.TalvorSetValue(5, "name", "x")), null, 11),
      new Call("TalvorCreateNewRecord(5)", Void(() => api.TalvorCreateNewRecord(5)), null, 11),
      new Call("TalvorRemoveRecord(5)", Void(() => api.TalvorRemoveRecord(5)), null, 11),
      new Call("TalvorDeleteRecord(5)", Void(() => api.TalvorDeleteRecord(5)), null, 11),
      new Call("TalvorSort(5, ...)", Void(() => api.TalvorSort(5, "name:1")), null, 11),
      new Call("TalvorReparent(5, ...)", Void(() => api.TalvorReparent(5, "orders", 6)), null, 11),
      new Call("TalvorDisconnect() unconnected", Void(() => api.TalvorDisconnect()), null, 17),
      new Call("TalvorTotal(5)", () => api.TalvorTotal(5), -1, 11),
      new Call("TalvorGetCurrentPosition(1024)", () => api.TalvorGetCurrentPosition(1024), -1, 12),
      new Call("TalvorSubSet(5, ...)", () => api.TalvorSubSet(5, "orders"), -1, 11),
      new Call("TalvorParent(5)", () => api.TalvorParent(5), -1, 11),
      // A failed text result is the empty text, never null.
      new Call("TalvorGetValue(5, ...)", () => api.TalvorGetValue(5, "name"), "", 11),
      new Call("TalvorGetValue(5, null)", () => api.TalvorGetValue(5, null), "", 11),
      new Call("TalvorRunProgram(1024, ...)", () => api.TalvorRunProgram(1024, "SELECT 1", "", 1), "", 12),
      new Call("TalvorSearch unconnected", () => api.TalvorSearch(DemoServer.App, "customers", 0, 0, "", m[0], m[1]), -1, 18),
      // A null text is a null pointer: the library refuses a null search
      // text before anything else, without a code; an empty one needs a
      // connection.
      new Call("TalvorSearch with a null search text", () => api.TalvorSearch(DemoServer.App, "customers", 0, 0, null, m[0], m[1]), -1, 0),
      new Call("TalvorConnect(null)", () => api.TalvorConnect(null), 0, 3),
      new Call("TalvorConnect of an address too long to keep", () => api.TalvorConnect(new string('h', 2000)), 0, 3),
    };
    foreach (Call call in calls) {
      int before = call.Code == 12 ? 11 : 12;
      SetCode(before);
      Check.Equal(call.Result, call.Body(), call.What + ": result");
      Check.Equal(call.Code, api.TalvorError(), call.What + ": code");
      Check.Equal(call.Code, api.TalvorError(), call.What + ": reading the code changes nothing");
    }
  }

  static void RefusedTexts() {
    // The text, and where its first refused character stands.
    var texts = new[] {
      new { Text = "\0", At = 0 },
      new { Text = "na\0me", At = 2 },
      new { Text = "\uD800", At = 0 },           // a high surrogate alone,
      new { Text = "x\uDBFF", At = 1 },          // at the end,
      new { Text = "\uD800x", At = 0 },          // before a non-surrogate,
      new { Text = "\uDC00\uD800", At = 0 },     // after its low half
      new { Text = "\uDC7F", At = 0 },           // low surrogates outside the escapes
      new { Text = "\uDC00", At = 0 },
      new { Text = "ok\uDD00", At = 2 },
      new { Text = "\uDFFF", At = 0 },
    };
    var calls = new[] {
      new { Parameter = "sort_text", Body = (Action<string>)(t => api.TalvorSort(5, t)) },
      new { Parameter = "search_text", Body = (Action<string>)(t => api.TalvorSearch("a", "f", 0, 0, t, "u", "p")) },
      new { Parameter = "value", Body = (Action<string>)(t => api.TalvorSetValue(5, "name", t)) },
      new { Parameter = "argument", Body = (Action<string>)(t => api.TalvorRunProgram(5, "p", t, 1)) },
    };
    foreach (var text in texts) {
      foreach (var call in calls) {
        string what = Check.Show(text.Text) + " as " + call.Parameter;
        SetCode(12);
        ArgumentException e = Check.Throws<ArgumentException>(() => call.Body(text.Text), what);
        if (e != null) {
          Check.Equal(call.Parameter, e.ParamName, what + ": the parameter named");
          Check.True(e.Message.Contains("index " + text.At), what + ": the message says where: " + e.Message);
        }
        Check.Equal(12, api.TalvorError(), what + ": the library was not called");
      }
    }
    // The escapes and whole surrogate pairs have bytes, so the call is made.
    foreach (string text in new[] { "\uDC80", "\uDCFF", "\uD800\uDC00", "\uDBFF\uDFFF", "a\uD83D\uDE00b" }) {
      SetCode(12);
      api.TalvorSort(5, text);
      Check.Equal(11, api.TalvorError(), Check.Show(text) + " reaches the library");
    }
  }

  static void ReplacedCallback() {
    var original = talvor_csharp_apiPINVOKE.SWIGStringHelper.stringDelegate;
    var seen = new List<IntPtr>();
    var callbacks = new[] {
      // The callback's result is the method's result.
      new {
        What = "a callback that prefixes",
        Callback = new talvor_csharp_apiPINVOKE.SWIGStringHelper.SWIGStringDelegate(text => {
          seen.Add(text);
          return TalvorText.ToHandle("replaced:" + TalvorText.Decode(text));
        }),
        Result = "replaced:",
      },
      // No string at all comes back as null.
      new {
        What = "a callback that returns no string",
        Callback = new talvor_csharp_apiPINVOKE.SWIGStringHelper.SWIGStringDelegate(text => {
          seen.Add(text);
          return IntPtr.Zero;
        }),
        Result = (string)null,
      },
    };
    Check.Equal("", api.TalvorGetValue(5, "name"), "before: the registered callback");
    foreach (var row in callbacks) {
      talvor_csharp_apiPINVOKE.SWIGStringHelper.SWIGRegisterStringCallback_talvor_csharp_api(row.Callback);
      try {
        seen.Clear();
        Check.Equal(row.Result, api.TalvorGetValue(5, "name"), row.What + ": TalvorGetValue");
        Check.Equal(row.Result, api.TalvorRunProgram(5, "SELECT 1", "", 1), row.What + ": TalvorRunProgram");
        Check.Equal(2, seen.Count, row.What + ": called once per text result");
        Check.True(seen.All(p => p != IntPtr.Zero), row.What + ": given the texts, never null");
      } finally {
        talvor_csharp_apiPINVOKE.SWIGStringHelper.SWIGRegisterStringCallback_talvor_csharp_api(original);
      }
      seen.Clear();
      Check.Equal("", api.TalvorGetValue(5, "name"), row.What + ": registering the first one again restores it");
      Check.Equal(0, seen.Count, row.What + ": the replaced callback is not called any more");
    }
  }

  static byte[] B(params int[] bytes) {
    return bytes.Select(b => (byte)b).ToArray();
  }

  // Bytes with what they decode to. Each byte of an invalid sequence is
  // the escape U+DC00 + byte, and decoding resumes at the next byte.
  static readonly object[][] Decodings = {
    new object[] { B(), "" },
    new object[] { B(0x41, 0x7F), "A\u007F" },
    new object[] { B(0xC3, 0xA9), "\u00E9" },                            // é
    new object[] { B(0xE6, 0xBC, 0xA2, 0xE5, 0xAD, 0x97), "\u6F22\u5B57" },  // 漢字
    new object[] { B(0xF0, 0x9F, 0x98, 0x80), "\uD83D\uDE00" },          // U+1F600
    new object[] { B(0xC2, 0x80), "\u0080" },                            // the smallest of each length
    new object[] { B(0xE0, 0xA0, 0x80), "\u0800" },
    new object[] { B(0xF0, 0x90, 0x80, 0x80), "\uD800\uDC00" },
    new object[] { B(0xDF, 0xBF), "\u07FF" },                            // the largest of each length
    new object[] { B(0xEF, 0xBF, 0xBF), "\uFFFF" },
    new object[] { B(0xF4, 0x8F, 0xBF, 0xBF), "\uDBFF\uDFFF" },
    new object[] { B(0xED, 0x9F, 0xBF), "\uD7FF" },                      // around the surrogates
    new object[] { B(0xEE, 0x80, 0x80), "\uE000" },
    new object[] { B(0xFF, 0xFE), "\uDCFF\uDCFE" },
    new object[] { B(0x80), "\uDC80" },                                  // a continuation alone
    new object[] { B(0xC3), "\uDCC3" },                                  // cut at the end
    new object[] { B(0xC3, 0x41), "\uDCC3A" },                           // cut by an ASCII byte
    new object[] { B(0xE2, 0x82, 0x41), "\uDCE2\uDC82A" },
    new object[] { B(0xF0, 0x9F, 0x98, 0x41), "\uDCF0\uDC9F\uDC98A" },
    new object[] { B(0xC3, 0xC3, 0xA9), "\uDCC3\u00E9" },                // a lead byte cut by another
    new object[] { B(0xC0, 0x80), "\uDCC0\uDC80" },                      // overlong forms
    new object[] { B(0xC1, 0xBF), "\uDCC1\uDCBF" },
    new object[] { B(0xE0, 0x9F, 0xBF), "\uDCE0\uDC9F\uDCBF" },
    new object[] { B(0xF0, 0x8F, 0xBF, 0xBF), "\uDCF0\uDC8F\uDCBF\uDCBF" },
    new object[] { B(0xED, 0xA0, 0x80), "\uDCED\uDCA0\uDC80" },          // U+D800 written as UTF-8
    new object[] { B(0xED, 0xBF, 0xBF), "\uDCED\uDCBF\uDCBF" },          // U+DFFF
    new object[] { B(0xF4, 0x90, 0x80, 0x80), "\uDCF4\uDC90\uDC80\uDC80" },  // beyond U+10FFFF
    new object[] { B(0xF5, 0x80, 0x80, 0x80), "\uDCF5\uDC80\uDC80\uDC80" },
    new object[] { B(0xF8, 0x88, 0x80, 0x80, 0x80), "\uDCF8\uDC88\uDC80\uDC80\uDC80" },
  };

  static byte[] WithNul(byte[] bytes) {
    return bytes.Concat(new byte[] { 0 }).ToArray();
  }

  static void DecodeTable() {
    foreach (object[] row in Decodings) {
      var bytes = (byte[])row[0];
      var text = (string)row[1];
      string what = Check.Show(bytes);
      Check.Equal(text, TalvorText.Decode(bytes), what + " decoded");
      Check.Equal(WithNul(bytes), TalvorText.Encode(text, "x"), what + " encoded again");
    }
  }

  // Every byte string of one and two bytes, and of three bytes after the
  // lead bytes with special ranges: where a strict decoder accepts it, the
  // same string; where it refuses it, at least one escape; and either way
  // encoding gives the bytes back.
  static void DecodeEverything() {
    var strict = new UTF8Encoding(false, true);
    var strings = new List<byte[]>();
    for (int a = 1; a < 256; ++a) {
      strings.Add(B(a));
      for (int b = 1; b < 256; ++b) strings.Add(B(a, b));
    }
    foreach (int lead in new[] { 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF4 }) {
      for (int b = 1; b < 256; ++b) {
        for (int c = 1; c < 256; ++c) strings.Add(B(lead, b, c));
      }
    }
    int wrong = 0;
    foreach (byte[] bytes in strings) {
      string text = TalvorText.Decode(bytes);
      string expected = null;
      try {
        expected = strict.GetString(bytes);
      } catch (ArgumentException) {
      }
      bool right = expected != null ? text == expected : text.Any(c => c >= 0xDC80 && c <= 0xDCFF);
      right = right && TalvorText.Encode(text, "x").SequenceEqual(WithNul(bytes));
      if (!right && ++wrong <= 10) {
        Check.Fail(Check.Show(bytes) + " decodes to " + Check.Show(text) + "; strictly " + Check.Show(expected));
      }
    }
    Check.Equal(0, wrong, strings.Count + " byte strings decoded and encoded again");
  }

  static void EncodeTable() {
    // Every character of the BMP but the surrogates, and a code point
    // above it every 0x1000: as the standard encoder writes them.
    var strict = new UTF8Encoding(false, true);
    int wrong = 0;
    int count = 0;
    for (int point = 1; point <= 0x10FFFF; point += point < 0x10000 ? 1 : 0x1000) {
      if (point >= 0xD800 && point <= 0xDFFF) continue;
      string text = "<" + char.ConvertFromUtf32(point) + ">";
      ++count;
      if (!TalvorText.Encode(text, "x").SequenceEqual(WithNul(strict.GetBytes(text))) && ++wrong <= 10) {
        Check.Fail("U+" + point.ToString("X4") + " encodes to " + Check.Show(TalvorText.Encode(text, "x")));
      }
    }
    Check.Equal(0, wrong, count + " code points encoded");

    // The escapes are their bytes, also beside other text.
    var escapes = new[] {
      new { Text = "\uDC80", Bytes = B(0x80) },
      new { Text = "\uDCFF\uDCFE", Bytes = B(0xFF, 0xFE) },
      new { Text = "a\uDCE9b", Bytes = B(0x61, 0xE9, 0x62) },
      new { Text = "\u00E9\uDCC3", Bytes = B(0xC3, 0xA9, 0xC3) },
      new { Text = "\uD83D\uDE00\uDCF0", Bytes = B(0xF0, 0x9F, 0x98, 0x80, 0xF0) },
    };
    foreach (var row in escapes) {
      Check.Equal(WithNul(row.Bytes), TalvorText.Encode(row.Text, "x"), Check.Show(row.Text));
    }
    Check.Equal(null, TalvorText.Encode(null, "x"), "null stays null");
    Check.Equal(WithNul(B()), TalvorText.Encode("", "x"), "the empty string is a NUL");
  }
}
