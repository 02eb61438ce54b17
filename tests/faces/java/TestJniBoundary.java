/**
 * What the module does with the JVM's resources on every path, watched by
 * jni_observer.c: every buffer GetStringUTFChars lends is given back and
 * never written to, also when a later argument's buffer cannot be had or the
 * result's String cannot be made (the JVM out of memory, made to happen on
 * demand); a text from the library is freed whatever happens; and a call
 * that cannot get its arguments never reaches the library.
 *
 * Run with the observer preloaded: LD_PRELOAD=<library>
 * -Dtalvor.observer=<library>.
 */
public final class TestJniBoundary {
  private static final String INJECTED_ARGUMENT = "injected: GetStringUTFChars";
  private static final String INJECTED_RESULT = "injected: new string";

  /** A call with its String arguments, all non-null. */
  private static final class Row {
    final String what;
    final int strings;
    final Check.Call call;

    Row(String what, int strings, Check.Call call) {
      this.what = what;
      this.strings = strings;
      this.call = call;
    }
  }

  public static void main(String[] args) throws Exception {
    talvor_java_apiJNI.TalvorError(); // loads the module before the observer starts
    System.load(System.getProperty("talvor.observer"));
    if (!Check.isTrue(JniObserver.install(), "the JNI functions are observed, malloc and free preloaded")) {
      Check.finish();
    }
    // The first call of a native method has the JVM look its symbol up, with
    // GetStringUTFChars calls of its own: the observer's are made once here,
    // the module's before each observation.
    JniObserver.arm(0, false, 0);
    JniObserver.utfCalls();
    JniObserver.outstanding();
    JniObserver.writtenBuffers();
    JniObserver.failedTextFreed();
    argumentsOnEveryPath();
    resultThatCannotBeMade();
    try (DemoServer server = new DemoServer()) {
      withServer(server);
    }
    Check.finish();
  }

  /** Leaves code 12 (a handle out of range) before a call: a call that
   *  reaches the library leaves another. */
  private static void markErrorCode() {
    talvor_java_apiJNI.TalvorClose(1024);
  }

  private static void argumentsOnEveryPath() {
    Object v = Check.VOID;
    int h = 5; // an empty slot
    String tooLong = "x".repeat(2000); // refused by connect before anything starts
    Row[] rows = {
      new Row("TalvorConnect", 1, () -> talvor_java_apiJNI.TalvorConnect(tooLong)),
      new Row("TalvorSearch", 5, () -> talvor_java_apiJNI.TalvorSearch("demo", "customers", 0, 0, "", "viewer", "x")),
      new Row("TalvorSort", 1, () -> { talvor_java_apiJNI.TalvorSort(h, "name:1"); return v; }),
      new Row("TalvorGetValue", 1, () -> talvor_java_apiJNI.TalvorGetValue(h, "name")),
      new Row("TalvorSetValue", 2, () -> { talvor_java_apiJNI.TalvorSetValue(h, "name", "x"); return v; }),
      new Row("TalvorSubSet", 1, () -> talvor_java_apiJNI.TalvorSubSet(h, "orders")),
      new Row("TalvorReparent", 1, () -> { talvor_java_apiJNI.TalvorReparent(h, "orders", 6); return v; }),
      new Row("TalvorRunProgram", 2, () -> talvor_java_apiJNI.TalvorRunProgram(h, "SELECT 1", "x", 1)),
      // Null Strings are null pointers: nothing is obtained for them.
      new Row("TalvorSearch with three null texts", 2,
              () -> talvor_java_apiJNI.TalvorSearch(null, "customers", 0, 0, null, "viewer", null)),
    };
    for (Row row : rows) row.call.run(); // linked before they are observed
    for (Row row : rows) {
      markErrorCode();
      JniObserver.arm(0, false, 0);
      row.call.run();
      Check.equal(row.strings, JniObserver.utfCalls(), row.what + ": one buffer per non-null String");
      Check.equal(0, JniObserver.outstanding(), row.what + ": every buffer given back");
      Check.equal(0, JniObserver.writtenBuffers(), row.what + ": no buffer written to");
      Check.isTrue(talvor_java_apiJNI.TalvorError() != 12, row.what + ": the library was called");

      for (int failing = 1; failing <= row.strings; failing++) {
        String what = row.what + " with no buffer for String " + failing + " of " + row.strings;
        markErrorCode();
        JniObserver.arm(failing, false, 0);
        Throwable t = Check.thrown(row.call, what);
        Check.isTrue(t instanceof OutOfMemoryError && INJECTED_ARGUMENT.equals(t.getMessage()),
                     what + ": the JVM's OutOfMemoryError reaches the caller (" + t + ")");
        Check.equal(failing, JniObserver.utfCalls(), what + ": no buffer asked for after it");
        Check.equal(0, JniObserver.outstanding(), what + ": the earlier buffers given back");
        Check.equal(12, talvor_java_apiJNI.TalvorError(), what + ": the library was not called");
      }
    }
  }

  // A refused call's result is the empty text: still a text to free.
  private static void resultThatCannotBeMade() {
    Row[] rows = {
      new Row("TalvorGetValue", 1, () -> talvor_java_apiJNI.TalvorGetValue(5, "name")),
      new Row("TalvorRunProgram", 2, () -> talvor_java_apiJNI.TalvorRunProgram(5, "SELECT 1", "x", 1)),
    };
    for (Row row : rows) {
      String what = row.what + " when its String cannot be made";
      JniObserver.arm(0, true, 0);
      Throwable t = Check.thrown(row.call, what);
      Check.isTrue(t instanceof OutOfMemoryError && INJECTED_RESULT.equals(t.getMessage()),
                   what + ": the JVM's OutOfMemoryError reaches the caller (" + t + ")");
      Check.isTrue(JniObserver.failedTextFreed(), what + ": the library's text is freed");
      Check.equal(0, JniObserver.outstanding(), what + ": the arguments' buffers given back");
      Check.equal(11, talvor_java_apiJNI.TalvorError(), what + ": the library was called");
    }
  }

  private static void withServer(DemoServer server) {
    if (!Check.equal(1, talvor_java_apiJNI.TalvorConnect(server.address), "connect to " + server.address)) return;
    int h = talvor_java_apiJNI.TalvorSearch(DemoServer.APPLICATION, "customers", 0, 0, "", server.user,
                                            server.password);
    if (!Check.isTrue(h >= 0, "search customers")) return;

    // The library trims the value it sends in place, so the module must
    // hand it a copy: the buffer the JVM lent is const. One literal (one
    // interned String) is used twice.
    for (int round = 1; round <= 2; round++) {
      String padded = "  Oslo  ";
      String what = "set-value, use " + round + " of a padded literal";
      JniObserver.arm(0, false, 0);
      talvor_java_apiJNI.TalvorSetValue(h, "city", padded);
      Check.equal(0, talvor_java_apiJNI.TalvorError(), what + ": accepted");
      Check.equal(0, JniObserver.writtenBuffers(), what + ": the JVM's buffers were not written to");
      Check.equal(0, JniObserver.outstanding(), what + ": and were given back");
      Check.equal("Oslo", talvor_java_apiJNI.TalvorGetValue(h, "city"), what + ": the value is stored trimmed");
      Check.equal(" ".repeat(2) + "Oslo" + " ".repeat(2), padded, what + ": the caller's String is unchanged");
    }

    // A text that is not modified UTF-8 is decoded by the module into a
    // buffer of two bytes per byte of the text, which is freed whatever
    // becomes of the String.
    int length = 3001;
    String bytes = "FF".repeat(length);
    talvor_java_apiJNI.TalvorRunProgram(
        h, "UPDATE customers SET city = CAST(X'" + bytes + "' AS TEXT) WHERE rowid = :rowid", "", 0);
    Check.equal(0, talvor_java_apiJNI.TalvorError(), "store " + length + " bytes 0xFF");
    String decoded = "\ufffd".repeat(length);
    String program = "SELECT city FROM customers WHERE rowid = :rowid";
    Object[][] rows = {
      // the call, the length of the text it gets from the library
      {new Row("TalvorGetValue", 1, () -> talvor_java_apiJNI.TalvorGetValue(h, "city")), length},
      {new Row("TalvorRunProgram", 2, () -> talvor_java_apiJNI.TalvorRunProgram(h, program, "", 1)), length + 1},
    };
    for (Object[] r : rows) {
      Row row = (Row) r[0];
      int textLength = (Integer) r[1];
      String what = row.what + " of bytes that are not modified UTF-8";
      JniObserver.arm(0, false, 0);
      Object read = row.call.run();
      Check.equal(textLength == length ? decoded : decoded + "\n", read, what + ": decoded");
      Check.equal(0, JniObserver.outstanding(), what + ": the arguments' buffers given back");

      JniObserver.arm(0, false, 2L * textLength);
      Throwable t = Check.thrown(row.call, what + ", no memory to decode");
      Check.isTrue(t instanceof OutOfMemoryError && !t.getMessage().startsWith("injected"),
                   what + ", no memory to decode: OutOfMemoryError (" + t + ")");
      Check.equal(0, JniObserver.outstanding(), what + ", no memory to decode: the arguments' buffers given back");

      JniObserver.arm(0, true, 0);
      t = Check.thrown(row.call, what + ", no String made");
      Check.isTrue(t instanceof OutOfMemoryError && INJECTED_RESULT.equals(t.getMessage()),
                   what + ", no String made: the JVM's OutOfMemoryError reaches the caller (" + t + ")");
      Check.isTrue(JniObserver.failedTextFreed(), what + ", no String made: the decoded chars are freed");
      Check.equal(0, JniObserver.outstanding(), what + ", no String made: the arguments' buffers given back");
    }

    talvor_java_apiJNI.TalvorClose(h);
    talvor_java_apiJNI.TalvorDisconnect();
    Check.equal(0, talvor_java_apiJNI.TalvorError(), "disconnect");
  }
}
