import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;
import java.util.Map;
import java.util.TreeMap;

/**
 * The classes a Java program compiles against: talvor_java_apiJNI declares
 * exactly the 18 traditional static native methods with their Java types,
 * plus TalvorError, and nothing else; talvor_java_api offers the same as
 * plain static methods. Both in the default package. No server needed.
 */
public final class TestShape {
  /** Name, result type, parameter types, in the public functions' order. */
  private static final Object[][] METHODS = {
    {"TalvorConnect", int.class, String.class},
    {"TalvorDisconnect", void.class},
    {"TalvorSearch", int.class,
     String.class, String.class, int.class, int.class, String.class, String.class, String.class},
    {"TalvorClose", void.class, int.class},
    {"TalvorTotal", int.class, int.class},
    {"TalvorSetCurrentPosition", void.class, int.class, int.class},
    {"TalvorGetCurrentPosition", int.class, int.class},
    {"TalvorLocked", int.class, int.class},
    {"TalvorGetValue", String.class, int.class, String.class},
    {"TalvorSetValue", void.class, int.class, String.class, String.class},
    {"TalvorCreateNewRecord", void.class, int.class},
    {"TalvorRemoveRecord", void.class, int.class},
    {"TalvorDeleteRecord", void.class, int.class},
    {"TalvorSort", void.class, int.class, String.class},
    {"TalvorSubSet", int.class, int.class, String.class},
    {"TalvorParent", int.class, int.class},
    {"TalvorReparent", void.class, int.class, String.class, int.class},
    {"TalvorRunProgram", String.class, int.class, String.class, String.class, int.class},
    // Beyond the traditional 18: the last-error code.
    {"TalvorError", int.class},
  };

  public static void main(String[] args) {
    int jni = Modifier.PUBLIC | Modifier.STATIC | Modifier.FINAL | Modifier.NATIVE;
    checkClass(talvor_java_apiJNI.class, jni);
    checkClass(talvor_java_api.class, Modifier.PUBLIC | Modifier.STATIC);
    Check.finish();
  }

  private static void checkClass(Class<?> c, int modifiers) {
    String name = c.getSimpleName();
    Check.equal("", c.getPackageName(), name + " is in the default package");
    Check.isTrue(Modifier.isPublic(c.getModifiers()), name + " is public");

    Map<String, Method> declared = new TreeMap<>();
    for (Method m : c.getDeclaredMethods()) {
      Check.isTrue(declared.put(m.getName(), m) == null, name + "." + m.getName() + " is not overloaded");
    }
    Map<String, Object[]> expected = new TreeMap<>();
    for (Object[] row : METHODS) expected.put((String) row[0], row);
    Check.equal(expected.keySet(), declared.keySet(), name + " declares exactly the 19 methods");

    for (Object[] row : METHODS) {
      Method m = declared.get((String) row[0]);
      if (m == null) continue;
      String what = name + "." + row[0];
      Check.equal(row[1], m.getReturnType(), what + " returns " + row[1]);
      Check.equal(Arrays.asList(Arrays.copyOfRange(row, 2, row.length)),
                  Arrays.asList((Object[]) m.getParameterTypes()), what + ": parameter types");
      Check.equal(Modifier.toString(modifiers), Modifier.toString(m.getModifiers()), what + ": modifiers");
    }
  }
}
