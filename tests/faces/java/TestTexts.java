/**
 * Texts through the server, against a talvor-server of the test's own:
 * null and empty texts, chars beyond ASCII as their modified UTF-8 bytes,
 * and bytes stored by other clients that are not modified UTF-8. What the
 * server stores is read with SQL programs, beside the methods under test.
 * (Set-value's trimming and the JVM's buffers: TestJniBoundary.)
 */
public final class TestTexts {
  private static DemoServer server;

  public static void main(String[] args) throws Exception {
    try (DemoServer s = new DemoServer()) {
      server = s;
      if (!Check.equal(1, talvor_java_apiJNI.TalvorConnect(s.address), "connect to " + s.address)) {
        Check.finish();
      }
      nullAndEmpty();
      charsBeyondAscii();
      bytesThatAreNotModifiedUtf8();
      talvor_java_apiJNI.TalvorDisconnect();
      Check.equal(0, talvor_java_apiJNI.TalvorError(), "disconnect");
    }
    Check.finish();
  }

  private static int search(String form, String text) {
    int h = talvor_java_apiJNI.TalvorSearch(DemoServer.APPLICATION, form, 0, 0, text, server.user, server.password);
    Check.isTrue(h >= 0, "search " + form + " " + Check.show(text) + " (code " + talvor_java_apiJNI.TalvorError() + ")");
    return h;
  }

  /** The answer of a read-only program. */
  private static String sql(int h, String program, String argument) {
    String answer = talvor_java_apiJNI.TalvorRunProgram(h, program, argument, 1);
    Check.equal(0, talvor_java_apiJNI.TalvorError(), "program " + program);
    return answer;
  }

  /** The bytes the server holds in the current record's city, in hex. */
  private static String storedCity(int h) {
    return sql(h, "SELECT hex(city) FROM customers WHERE rowid = :rowid", "").trim();
  }

  private static void nullAndEmpty() {
    int all = search("customers", "");
    String count = sql(all, "SELECT count(*) FROM customers", "").trim();
    Check.equal(count, String.valueOf(talvor_java_apiJNI.TalvorTotal(all)), "the empty search text finds every record");

    // A null String is a null pointer, which the library's search refuses
    // before it sends anything (and without a code); an empty text would
    // have found every record.
    Check.equal(-1, talvor_java_apiJNI.TalvorSearch(DemoServer.APPLICATION, "customers", 0, 0, null,
                                                    server.user, server.password), "a null search text is refused");
    Check.equal(0, talvor_java_apiJNI.TalvorError(), "... before the server is asked");

    String[] cleared = {null, ""};
    for (String value : cleared) {
      talvor_java_apiJNI.TalvorSetValue(all, "email", "someone@example.org");
      talvor_java_apiJNI.TalvorSetValue(all, "email", value);
      Check.equal(0, talvor_java_apiJNI.TalvorError(), "set email to " + Check.show(value));
      Check.equal("", talvor_java_apiJNI.TalvorGetValue(all, "email"), Check.show(value) + " reads back as the empty text");
      Check.equal("''\n", sql(all, "SELECT quote(email) FROM customers WHERE rowid = :rowid", ""),
                  Check.show(value) + " is stored as the empty text");
    }
    Check.equal("''\n", sql(all, "SELECT quote(:arg)", null), "a null program argument travels as the empty text");

    Check.equal("", talvor_java_apiJNI.TalvorGetValue(all, null), "a null field name reads the empty text");
    Check.isTrue(talvor_java_apiJNI.TalvorError() != 0, "... and the server refuses it");
    talvor_java_apiJNI.TalvorClose(all);
  }

  private static void charsBeyondAscii() {
    int h = search("customers", "");
    String[][] rows = {
      // the Java text, its modified UTF-8 bytes as the server stores them
      {"\u00e9", "C3A9"},
      {"\u6f22\u5b57", "E6BCA2E5AD97"},
      {"Malm\u00f6 \u2013 \u6771\u4eac", "4D616C6DC3B620E2809320E69DB1E4BAAC"},
      // U+0000 is two bytes, so it does not cut the text.
      {"a\u0000b", "61C08062"},
      {"\u0000", "C080"},
      // Beyond U+FFFF: each of the two surrogates in three bytes.
      {"\ud83d\ude00", "EDA0BDEDB880"},
      // A lone surrogate, which a Java String may hold.
      {"x\ud800", "78EDA080"},
    };
    for (String[] row : rows) {
      String text = row[0];
      String shown = Check.show(text);
      talvor_java_apiJNI.TalvorSetValue(h, "city", text);
      Check.equal(0, talvor_java_apiJNI.TalvorError(), "set " + shown);
      Check.equal(row[1], storedCity(h), shown + " is stored as its modified UTF-8 bytes");
      Check.equal(text, talvor_java_apiJNI.TalvorGetValue(h, "city"), shown + " reads back");
      Check.equal(text + "\n", sql(h, "SELECT city FROM customers WHERE rowid = :rowid", ""),
                  shown + " comes back in a program's answer");
      Check.equal(row[1] + "\n", sql(h, "SELECT hex(:arg)", text), shown + " as a program argument");
    }
    talvor_java_apiJNI.TalvorClose(h);
  }

  // Other clients store any bytes. What is not modified UTF-8 is decoded by
  // the module (handing it to NewStringUTF is undefined in the JNI
  // contract): four-byte UTF-8 as the chars it stands for, and every other
  // byte that begins no sequence as U+FFFD.
  private static void bytesThatAreNotModifiedUtf8() {
    int h = search("customers", "");
    String r = "\ufffd";
    String[][] rows = {
      // the bytes stored, the Java text read
      {"FFFE", r + r},
      {"61FF62", "a" + r + "b"},
      {"C3A9FF", "\u00e9" + r},
      {"80", r},
      {"E6BC41", r + r + "A"}, // a sequence cut short by another char
      {"E6BC", r + r}, // ... by the end of the text
      {"C181", r + r}, // "A", overlong
      {"E08080", r + r + r}, // U+0000 in three bytes
      {"F4908080", r + r + r + r}, // beyond U+10FFFF
      {"F88880808080", r + r + r + r + r + r},
      {"F09F9880", "\ud83d\ude00"}, // standard UTF-8, as other languages write it
      {"C080F09F9880FF", "\u0000\ud83d\ude00" + r},
      {"4D616C6DF6", "Malm" + r}, // Latin-1
    };
    for (String[] row : rows) {
      String stored = "X'" + row[0] + "'";
      talvor_java_apiJNI.TalvorRunProgram(
          h, "UPDATE customers SET city = CAST(" + stored + " AS TEXT) WHERE rowid = :rowid", "", 0);
      Check.equal(0, talvor_java_apiJNI.TalvorError(), "store " + stored);
      Check.equal(row[0], storedCity(h), stored + " is stored");
      Check.equal(row[1], talvor_java_apiJNI.TalvorGetValue(h, "city"), stored + " reads as " + Check.show(row[1]));
      Check.equal(row[1] + "\n", sql(h, "SELECT city FROM customers WHERE rowid = :rowid", ""),
                  stored + " in a program's answer");
    }
    talvor_java_apiJNI.TalvorClose(h);
  }
}
