/**
 * Calls the library refuses, without a server: each method reaches the
 * library and hands back its result unchanged (for a text, the empty text),
 * and TalvorError reports the refusal. (That void methods give nothing back
 * is their declared type: TestShape.)
 */
public final class TestRefusals {
  private static final int EMPTY_SLOT = 5;
  private static final int OUT_OF_RANGE = 1024;

  private static final class Row {
    final String what;
    final Object result;
    final int code;
    final Check.Call call;

    Row(String what, Object result, int code, Check.Call call) {
      this.what = what;
      this.result = result;
      this.code = code;
      this.call = call;
    }
  }

  public static void main(String[] args) {
    Object v = Check.VOID;
    int h = EMPTY_SLOT;
    String tooLong = "x".repeat(2000);
    Row[] rows = {
      // what, the result (VOID: none), the code TalvorError gives afterwards, the call
      new Row("TalvorClose(5)", v, 11, () -> { talvor_java_apiJNI.TalvorClose(h); return v; }),
      new Row("TalvorClose(1024)", v, 12, () -> { talvor_java_apiJNI.TalvorClose(OUT_OF_RANGE); return v; }),
      new Row("TalvorClose(-1)", v, 12, () -> { talvor_java_apiJNI.TalvorClose(-1); return v; }),
      new Row("TalvorClose(MIN_VALUE)", v, 12,
              () -> { talvor_java_apiJNI.TalvorClose(Integer.MIN_VALUE); return v; }),
      new Row("TalvorTotal", -1, 11, () -> talvor_java_apiJNI.TalvorTotal(h)),
      new Row("TalvorSetCurrentPosition", v, 11,
              () -> { talvor_java_apiJNI.TalvorSetCurrentPosition(h, 1); return v; }),
      new Row("TalvorGetCurrentPosition", -1, 11, () -> talvor_java_apiJNI.TalvorGetCurrentPosition(h)),
      new Row("TalvorLocked", -1, 11, () -> talvor_java_apiJNI.TalvorLocked(h)),
      // A refused text result is the empty text, not null.
      new Row("TalvorGetValue", "", 11, () -> talvor_java_apiJNI.TalvorGetValue(h, "name")),
      new Row("TalvorSetValue", v, 11, () -> { talvor_java_apiJNI.TalvorSetValue(h, "name", "x"); return v; }),
      new Row("TalvorCreateNewRecord", v, 11, () -> { talvor_java_apiJNI.TalvorCreateNewRecord(h); return v; }),
      new Row("TalvorRemoveRecord", v, 11, () -> { talvor_java_apiJNI.TalvorRemoveRecord(h); return v; }),
      new Row("TalvorDeleteRecord", v, 11, () -> { talvor_java_apiJNI.TalvorDeleteRecord(h); return v; }),
      new Row("TalvorSort", v, 11, () -> { talvor_java_apiJNI.TalvorSort(h, "name:1"); return v; }),
      new Row("TalvorSubSet", -1, 11, () -> talvor_java_apiJNI.TalvorSubSet(h, "orders")),
      new Row("TalvorParent", -1, 11, () -> talvor_java_apiJNI.TalvorParent(h)),
      new Row("TalvorReparent", v, 11, () -> { talvor_java_apiJNI.TalvorReparent(h, "orders", 6); return v; }),
      new Row("TalvorRunProgram", "", 11, () -> talvor_java_apiJNI.TalvorRunProgram(h, "SELECT 1", "", 1)),
      new Row("TalvorSearch without a connection", -1, 18,
              () -> talvor_java_apiJNI.TalvorSearch("demo", "customers", 0, 0, "", "viewer", "look-only")),
      new Row("TalvorDisconnect without a connection", v, 17,
              () -> { talvor_java_apiJNI.TalvorDisconnect(); return v; }),
      // Refused before anything starts: a null address, and one too long
      // for the library's name fields.
      new Row("TalvorConnect(null)", 0, 3, () -> talvor_java_apiJNI.TalvorConnect(null)),
      new Row("TalvorConnect(2000 chars)", 0, 3, () -> talvor_java_apiJNI.TalvorConnect(tooLong)),
    };
    for (Row row : rows) {
      // Leave another code first, so the code read afterwards is the call's.
      talvor_java_apiJNI.TalvorClose(row.code == 12 ? EMPTY_SLOT : OUT_OF_RANGE);
      Object result = row.call.run();
      if (row.result != Check.VOID) {
        Check.equal(row.result, result, row.what + " returns " + Check.show(row.result));
      }
      Check.equal(row.code, talvor_java_apiJNI.TalvorError(), row.what + " leaves code " + row.code);
    }
    talvor_java_apiJNI.TalvorClose(EMPTY_SLOT);
    talvor_java_apiJNI.TalvorError();
    Check.equal(11, talvor_java_apiJNI.TalvorError(), "reading the code leaves it as it was");
    Check.finish();
  }
}
