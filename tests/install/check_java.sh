#!/usr/bin/env bash
# The installed Java module used as a program would use it: a small program
# compiled with javac against the installed jar and run with java, the JNI
# library found through -Djava.library.path in its installed folder (nothing
# from the build tree). It connects to a running talvor-server, searches,
# counts, reads the field of the last record found and disconnects.
#
# Environment (run_install_test.sh sets it):
#   PREFIX                 the installation (required)
#   TALVOR_SERVER_ADDRESS  a running talvor-server with the demo application
#                          (required)
#   TALVOR_DEMO_APP, TALVOR_DEMO_USER, TALVOR_DEMO_PASSWORD, TALVOR_DEMO_FORM,
#   TALVOR_DEMO_FIELD      what to search and read (default: demo, manager,
#                          all-access, customers, name)
#   TALVOR_DEMO_SEARCH     the search text (default: every record)
#   TALVOR_DEMO_TOTAL, TALVOR_DEMO_LAST_VALUE
#                          when set: how many records the search must find,
#                          and the field's value in the last of them
#   TALVOR_BUILD_FACES     OFF when the build made no language modules
#   TALVOR_BUILD_DIR       when set: its CMakeCache.txt says where the jar and
#                          the library were installed, if not in the default
#                          folders (share/java and LIBDIR/jni below PREFIX)
#   TALVOR_LIBDIR          PREFIX's library directory (default: PREFIX/lib)
#   JAVA_HOME              a JDK to use instead of javac and java on PATH
# Exits 0 when every step worked, 77 when there is nothing to check (no
# language modules in the build, no JDK), 1 otherwise.
set -euo pipefail

if [ "${TALVOR_BUILD_FACES:-ON}" != ON ]; then
  echo "check_java: the build made no language modules"
  exit 77
fi
: "${PREFIX:?check_java: PREFIX is not set}"
: "${TALVOR_SERVER_ADDRESS:?check_java: TALVOR_SERVER_ADDRESS is not set}"

javac=javac
java=java
if [ -n "${JAVA_HOME:-}" ]; then
  javac=$JAVA_HOME/bin/javac
  java=$JAVA_HOME/bin/java
fi
if ! command -v "$javac" >/dev/null || ! command -v "$java" >/dev/null; then
  echo "check_java: no JDK ($javac and $java)"
  exit 77
fi

# The folders as the build was configured; relative ones are below PREFIX.
cached() {
  if [ -n "${TALVOR_BUILD_DIR:-}" ] && [ -f "$TALVOR_BUILD_DIR/CMakeCache.txt" ]; then
    sed -n "s/^$1:[A-Z]*=//p" "$TALVOR_BUILD_DIR/CMakeCache.txt"
  fi
}
below_prefix() {
  case $1 in
    /*) echo "$1" ;;
    *) echo "$PREFIX/$1" ;;
  esac
}
libdir=${TALVOR_LIBDIR:-$PREFIX/lib}
jar_dir=$(cached TALVOR_JAVA_JAR_DIR)
jar_dir=$(below_prefix "${jar_dir:-share/java}")
jni_dir=$(cached TALVOR_JAVA_JNI_DIR)
jni_dir=$(below_prefix "${jni_dir:-${libdir#"$PREFIX"/}/jni}")
jar=$jar_dir/talvor_java_api.jar
library=$jni_dir/libtalvor_java_api.so
for f in "$jar" "$library"; do
  if [ ! -f "$f" ]; then
    echo "check_java: $f is not installed" >&2
    exit 1
  fi
done

mkdir -p classes
cat >TalvorCheck.java <<'EOF'
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

public class TalvorCheck {
  static void fail(String message) {
    System.err.println("check_java: " + message + " (code " + talvor_java_api.TalvorError() + ")");
    System.exit(1);
  }

  static String env(String name, String otherwise) {
    String value = System.getenv(name);
    return value == null ? otherwise : value;
  }

  public static void main(String[] args) throws Exception {
    Path jar = Paths.get(args[0]).toRealPath();
    Path library = Paths.get(args[1]).toRealPath();
    String address = System.getenv("TALVOR_SERVER_ADDRESS");
    String app = env("TALVOR_DEMO_APP", "demo");
    String form = env("TALVOR_DEMO_FORM", "customers");
    String field = env("TALVOR_DEMO_FIELD", "name");
    String search = env("TALVOR_DEMO_SEARCH", "");

    if (talvor_java_api.TalvorConnect(address) != 1) fail("cannot connect to " + address);
    for (Class<?> c : new Class<?>[] {talvor_java_api.class, talvor_java_apiJNI.class}) {
      Path from = Paths.get(c.getProtectionDomain().getCodeSource().getLocation().toURI()).toRealPath();
      if (!from.equals(jar)) fail(c.getName() + " came from " + from + ", not " + jar);
    }
    // The library the JVM loaded, as the process maps it.
    boolean mapped = false;
    for (String line : Files.readAllLines(Paths.get("/proc/self/maps"))) {
      if (line.endsWith("/libtalvor_java_api.so")) {
        Path loaded = Paths.get(line.substring(line.indexOf('/'))).toRealPath();
        if (!loaded.equals(library)) fail("the JVM loaded " + loaded + ", not " + library);
        mapped = true;
      }
    }
    if (!mapped) fail("libtalvor_java_api.so is not mapped");

    int h = talvor_java_api.TalvorSearch(app, form, 0, 0, search, env("TALVOR_DEMO_USER", "manager"),
                                         env("TALVOR_DEMO_PASSWORD", "all-access"));
    if (h < 0) fail("search '" + search + "' of " + app + "/" + form + " refused");
    int total = talvor_java_api.TalvorTotal(h);
    if (total < 1) fail("'" + search + "' on " + app + "/" + form + " finds no records: " + total);
    String expectedTotal = System.getenv("TALVOR_DEMO_TOTAL");
    if (expectedTotal != null && total != Integer.parseInt(expectedTotal)) {
      fail("'" + search + "' finds " + total + " records, not " + expectedTotal);
    }
    talvor_java_api.TalvorSetCurrentPosition(h, total);
    String value = talvor_java_api.TalvorGetValue(h, field);
    if (talvor_java_api.TalvorError() != 0) fail("cannot read " + field);
    String expectedValue = System.getenv("TALVOR_DEMO_LAST_VALUE");
    if (expectedValue != null && !value.equals(expectedValue)) {
      fail(field + " of the last record is '" + value + "', not '" + expectedValue + "'");
    }
    talvor_java_api.TalvorClose(h);
    talvor_java_api.TalvorDisconnect();
    if (talvor_java_api.TalvorError() != 0) fail("disconnect failed");
    System.out.println("check_java: " + total + " records of " + app + "/" + form + ", the last " + field
                       + " '" + value + "', through " + jar + " and " + library);
  }
}
EOF
"$javac" -Xlint:all -Werror -cp "$jar" -d classes TalvorCheck.java
"$java" -cp "$jar:classes" -Djava.library.path="$jni_dir" TalvorCheck "$jar" "$library"
