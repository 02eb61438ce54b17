// A small harness for the C# library's tests: named sections, checks that
// report and go on, and a summary. A section that throws unexpectedly
// counts as one failure and the next section still runs.

using System;
using System.Collections;
using System.Collections.Generic;
using System.Text;

static class Check {
  static int failures;
  static int passes;
  static string section = "";

  public static void Section(string name, Action body) {
    section = name;
    Console.WriteLine("# " + name);
    try {
      body();
    } catch (Exception e) {
      Fail("the section ended with " + e);
    }
  }

  public static bool True(bool condition, string what) {
    if (condition) {
      ++passes;
    } else {
      Fail(what);
    }
    return condition;
  }

  public static bool Equal<T>(T expected, T actual, string what) {
    bool same = expected is IEnumerable && !(expected is string) && actual is IEnumerable
        ? Show(expected) == Show(actual)
        : EqualityComparer<T>.Default.Equals(expected, actual);
    if (same) {
      ++passes;
    } else {
      Fail(what + ": expected " + Show(expected) + ", got " + Show(actual));
    }
    return same;
  }

  // The exception body throws, or null (and a failure) when it throws none
  // or another kind.
  public static E Throws<E>(Action body, string what) where E : Exception {
    try {
      body();
    } catch (E e) {
      ++passes;
      return e;
    } catch (Exception e) {
      Fail(what + ": expected " + typeof(E).Name + ", got " + e.GetType().Name + ": " + e.Message);
      return null;
    }
    Fail(what + ": expected " + typeof(E).Name + ", nothing was thrown");
    return null;
  }

  public static void Fail(string what) {
    ++failures;
    Console.WriteLine("not ok - " + section + ": " + what);
  }

  public static int Finish() {
    Console.WriteLine("{0} checks passed, {1} failed", passes, failures);
    return failures == 0 && passes > 0 ? 0 : 1;
  }

  // A value as a message shows it: strings quoted with everything outside
  // printable ASCII as \uXXXX, sequences in brackets, null as null.
  public static string Show(object value) {
    if (value == null) return "null";
    string text = value as string;
    if (text != null) {
      var shown = new StringBuilder("\"");
      foreach (char c in text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
          shown.Append(c);
        } else {
          shown.AppendFormat("\\u{0:X4}", (int)c);
        }
      }
      return shown.Append('"').ToString();
    }
    byte[] bytes = value as byte[];
    if (bytes != null) return "[" + BitConverter.ToString(bytes) + "]";
    IEnumerable items = value as IEnumerable;
    if (items != null) {
      var shown = new List<string>();
      foreach (object item in items) shown.Add(Show(item));
      return "[" + string.Join(", ", shown) + "]";
    }
    return value.ToString();
  }
}
