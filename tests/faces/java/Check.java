import java.util.Objects;

/**
 * The tests' assertions. Every check prints one line ("ok" or "FAIL" and what
 * was checked, texts with their chars beyond ASCII escaped); finish() ends
 * the program, with status 1 when any check failed.
 */
final class Check {
  private static boolean failed;

  private Check() {}

  /** A call of the module, as a value: void methods return VOID. */
  interface Call {
    Object run();
  }

  static final Object VOID = new Object() {
    @Override
    public String toString() {
      return "(void)";
    }
  };

  static boolean isTrue(boolean condition, String what) {
    report(condition, what);
    return condition;
  }

  static boolean equal(Object expected, Object actual, String what) {
    boolean same = Objects.equals(expected, actual);
    report(same, same ? what : what + ": expected " + show(expected) + ", got " + show(actual));
    return same;
  }

  /** What call throws; a failure (and null) when it throws nothing. */
  static Throwable thrown(Call call, String what) {
    try {
      Object result = call.run();
      report(false, what + ": nothing thrown, returned " + show(result));
      return null;
    } catch (RuntimeException | Error e) {
      return e;
    }
  }

  static void finish() {
    System.out.println(failed ? "FAILED" : "PASSED");
    System.exit(failed ? 1 : 0);
  }

  /** A value as Java source would write it, so invisible chars show. */
  static String show(Object value) {
    if (!(value instanceof String)) return String.valueOf(value);
    StringBuilder out = new StringBuilder("\"");
    for (char c : ((String) value).toCharArray()) {
      if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') out.append(c);
      else out.append(String.format("\\u%04X", (int) c));
    }
    return out.append('"').toString();
  }

  private static void report(boolean ok, String what) {
    if (!ok) failed = true;
    System.out.println((ok ? "ok   " : "FAIL ") + what);
  }
}
