#!/usr/bin/env bash
# The installed C# library used as a .NET program uses it: a small program
# compiled with mcs against the assembly under PREFIX, run by mono with
# MONO_PATH naming the assembly's directory and nothing else (no
# LD_LIBRARY_PATH): the native library must be found from there, beside
# the assembly or through its dllmap. The program connects, searches,
# counts, reads the field of the last record found and disconnects, and
# shows that the assembly and the native library came from PREFIX.
#
#   PREFIX                 the installation (required)
#   TALVOR_SERVER_ADDRESS  a running talvor-server with the demo application
#                          (required)
#   TALVOR_DEMO_APP, TALVOR_DEMO_USER, TALVOR_DEMO_PASSWORD, TALVOR_DEMO_FORM,
#   TALVOR_DEMO_FIELD, TALVOR_DEMO_SEARCH
#                          what to search and read (default: demo, viewer,
#                          look-only, customers, name, every record)
#   TALVOR_DEMO_TOTAL, TALVOR_DEMO_LAST_VALUE
#                          when set: how many records the search must find,
#                          and the field's value in the last of them
#   TALVOR_LIBDIR          PREFIX's library directory (default: PREFIX/lib)
#   TALVOR_CSHARP_ASSEMBLY_DIR, TALVOR_CSHARP_LIBRARY_DIR
#                          where the build was told to install the assembly
#                          and the native library (relative: below PREFIX);
#                          default: both in TALVOR_LIBDIR/cli/talvor_csharp_api
#   MCS, MONO              the compiler and runtime (default: from PATH)
# Exits 0 when everything held, 77 (skipped) when the build made no language
# modules or mcs and mono are missing, 1 otherwise.
set -euo pipefail
[ "${TALVOR_BUILD_FACES:-ON}" = ON ] || exit 77

: "${PREFIX:?check_csharp: PREFIX is not set}"
: "${TALVOR_SERVER_ADDRESS:?check_csharp: TALVOR_SERVER_ADDRESS is not set}"
mcs=${MCS:-mcs}
mono=${MONO:-mono}
if ! command -v "$mcs" >/dev/null || ! command -v "$mono" >/dev/null; then
  echo "check_csharp: no $mcs or $mono here"
  exit 77
fi

fail() {
  echo "check_csharp: $*" >&2
  exit 1
}

under_prefix() {
  case $1 in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s/%s\n' "$PREFIX" "$1" ;;
  esac
}
assembly_dir=${TALVOR_CSHARP_ASSEMBLY_DIR:+$(under_prefix "$TALVOR_CSHARP_ASSEMBLY_DIR")}
assembly_dir=${assembly_dir:-${TALVOR_LIBDIR:-$PREFIX/lib}/cli/talvor_csharp_api}
library_dir=${TALVOR_CSHARP_LIBRARY_DIR:+$(under_prefix "$TALVOR_CSHARP_LIBRARY_DIR")}
library_dir=${library_dir:-$assembly_dir}

assembly=$assembly_dir/talvor_csharp_api.dll
library=$library_dir/libtalvor_csharp_api.so
[ -f "$assembly" ] || fail "no talvor_csharp_api.dll in $assembly_dir"
[ -f "$library" ] || fail "no libtalvor_csharp_api.so in $library_dir"

cat >client.cs <<'EOF'
using System;
using System.IO;
using System.Linq;

static class Client {
  static string Env(string name, string fallback) {
    return Environment.GetEnvironmentVariable(name) ?? fallback;
  }

  static int Fail(string what) {
    Console.Error.WriteLine("check_csharp: {0} (code {1})", what, talvor_csharp_api.TalvorError());
    talvor_csharp_api.TalvorDisconnect();
    return 1;
  }

  static int Main(string[] args) {
    string assemblyDir = Path.GetFullPath(args[0]);
    string library = Path.GetFullPath(args[1]);
    string address = Env("TALVOR_SERVER_ADDRESS", "");
    string field = Env("TALVOR_DEMO_FIELD", "name");
    string totalWanted = Env("TALVOR_DEMO_TOTAL", null);
    string valueWanted = Env("TALVOR_DEMO_LAST_VALUE", null);

    if (talvor_csharp_api.TalvorConnect(address) != 1) return Fail("cannot connect to " + address);
    int h = talvor_csharp_api.TalvorSearch(Env("TALVOR_DEMO_APP", "demo"), Env("TALVOR_DEMO_FORM", "customers"), 0, 0,
                                           Env("TALVOR_DEMO_SEARCH", ""), Env("TALVOR_DEMO_USER", "viewer"),
                                           Env("TALVOR_DEMO_PASSWORD", "look-only"));
    if (h < 0) return Fail("search refused");
    int total = talvor_csharp_api.TalvorTotal(h);
    if (total < 1 || totalWanted != null && total.ToString() != totalWanted) {
      return Fail(total + " records found, " + (totalWanted ?? "some") + " expected");
    }
    talvor_csharp_api.TalvorSetCurrentPosition(h, total);
    string value = talvor_csharp_api.TalvorGetValue(h, field);
    if (talvor_csharp_api.TalvorError() != 0 || value == null) return Fail("cannot read " + field);
    if (valueWanted != null && value != valueWanted) return Fail(field + " is \"" + value + "\", \"" + valueWanted + "\" expected");
    talvor_csharp_api.TalvorClose(h);
    talvor_csharp_api.TalvorDisconnect();
    if (talvor_csharp_api.TalvorError() != 0) return Fail("disconnect failed");

    // Both halves came from the installation.
    string loaded = Path.GetFullPath(typeof(talvor_csharp_api).Assembly.Location);
    if (Path.GetDirectoryName(loaded) != assemblyDir) return Fail("the assembly came from " + loaded);
    var mapped = File.ReadAllLines("/proc/self/maps").Select(l => l.Split(new[] { ' ' }, 6).Last().Trim())
        .Where(p => p.EndsWith("/libtalvor_csharp_api.so")).Distinct().ToList();
    if (mapped.Count != 1 || Path.GetFullPath(mapped[0]) != library) {
      return Fail("the native library came from " + string.Join(", ", mapped));
    }
    Console.WriteLine("check_csharp: {0} records; the last one's {1} is {2}", total, field, value);
    return 0;
  }
}
EOF

"$mcs" -nologo -r:"$assembly" -out:client.exe client.cs || fail "client.cs does not compile against $assembly"
# Real paths, as the kernel reports the mapped library.
assembly_dir=$(realpath "$assembly_dir")
MONO_PATH=$assembly_dir "$mono" client.exe "$assembly_dir" "$(realpath "$library")" ||
  fail "the session through the installed library failed"
