#!/usr/bin/env bash
# The installed Python package used as a user would: imports talvor from the
# site-packages under PREFIX (and nothing from the source or build trees),
# then connects, searches, counts, reads a field of every record and
# disconnects. Exits 0 when that works, 77 when there is nothing to check
# (no Python module in the build, no python3), 1 otherwise.
#
#   PREFIX                 the installation (required)
#   TALVOR_SERVER_ADDRESS  a running talvor-server with the demo application
#                          (required)
#   TALVOR_DEMO_APP, TALVOR_DEMO_USER, TALVOR_DEMO_PASSWORD, TALVOR_DEMO_FORM,
#   TALVOR_DEMO_FIELD      what to search and read (default: demo, viewer,
#                          look-only, customers, name)
#   TALVOR_DEMO_SEARCH     the search text (default: every record)
#   TALVOR_DEMO_TOTAL, TALVOR_DEMO_LAST_VALUE
#                          when set: how many records the search must find,
#                          and the field's value in the last of them
#   TALVOR_BUILD_DIR       when set: a build without the Python module
#                          makes the check a skip instead of a failure
#   PYTHON                 an interpreter to try before python3 on PATH and
#                          /usr/bin/python3
set -euo pipefail

: "${PREFIX:?check_python: PREFIX is not set}"
: "${TALVOR_SERVER_ADDRESS:?check_python: TALVOR_SERVER_ADDRESS is not set}"

# Wherever the installation put the module (the directory depends on the
# interpreter's layout: site-packages or dist-packages).
mapfile -t found < <(find "$PREFIX" -name talvor_python_api.py -path '*-packages/*' 2>/dev/null)
if [ "${#found[@]}" -eq 0 ] && [ -n "${TALVOR_BUILD_DIR:-}" ] &&
   [ ! -e "$TALVOR_BUILD_DIR/faces/python/talvor_python_api.py" ]; then
  echo "check_python: the build made no Python module"
  exit 77
fi
if [ "${#found[@]}" -ne 1 ]; then
  echo "check_python: expected one talvor_python_api.py in a *-packages directory under $PREFIX," \
       "found ${#found[@]}" >&2
  exit 1
fi
site=$(dirname "${found[0]}")
extension=$(cd "$site" && ls _talvor_python_api*.so 2>/dev/null | head -n 1)
[ -n "$extension" ] || { echo "check_python: no _talvor_python_api*.so in $site" >&2; exit 1; }

# The interpreter the module was built for: the first that loads modules
# with its suffix (.cpython-311-x86_64-linux-gnu.so, say).
suffix=.${extension#_talvor_python_api.}
python=
any_python=
for candidate in ${PYTHON:+"$PYTHON"} python3 /usr/bin/python3; do
  command -v "$candidate" >/dev/null 2>&1 || continue
  any_python=$candidate
  if "$candidate" -I -c 'import sys, importlib.machinery as m; sys.exit(sys.argv[1] not in m.EXTENSION_SUFFIXES)' \
       "$suffix"; then
    python=$candidate
    break
  fi
done
if [ -z "$any_python" ]; then
  echo "check_python: no python3"
  exit 77
fi
if [ -z "$python" ]; then
  echo "check_python: no interpreter here loads $extension (tried ${PYTHON:-} python3 /usr/bin/python3)" >&2
  exit 1
fi

# -I: no PYTHONPATH, no user site-packages, not the current directory;
# -B: nothing written into the installation.
exec "$python" -I -B - "$site" <<'EOF'
import os
import sys

site = os.path.realpath(sys.argv[1])
sys.path.insert(0, site)


def fail(message):
    sys.exit('check_python: ' + message)


try:
    import talvor
    import talvor_python_api
except ImportError as e:
    fail('cannot import talvor from %s with %s: %s' % (site, sys.executable, e))
for module in (talvor, talvor_python_api, talvor_python_api._talvor_python_api):
    if not os.path.realpath(module.__file__).startswith(site + os.sep):
        fail('%s was imported from %s, not from %s' % (module.__name__, module.__file__, site))

env = os.environ
app = env.get('TALVOR_DEMO_APP', 'demo')
user = env.get('TALVOR_DEMO_USER', 'viewer')
password = env.get('TALVOR_DEMO_PASSWORD', 'look-only')
form = env.get('TALVOR_DEMO_FORM', 'customers')
field = env.get('TALVOR_DEMO_FIELD', 'name')
search = env.get('TALVOR_DEMO_SEARCH', '')

try:
    with talvor.connect(env['TALVOR_SERVER_ADDRESS']) as conn:
        with conn.search(app, form, search, user, password) as rs:
            total = len(rs)
            values = [record[field] for record in rs]
except talvor.Error as e:
    fail(str(e))
if talvor_python_api.TalvorError() != 0:
    fail('the disconnect left code %d' % talvor_python_api.TalvorError())
if total < 1:
    fail('%r on %s/%s finds no records' % (search, app, form))
if len(values) != total:
    fail('read %d records of %d' % (len(values), total))
if 'TALVOR_DEMO_TOTAL' in env and total != int(env['TALVOR_DEMO_TOTAL']):
    fail('%r on %s/%s finds %d records, not %s' % (search, app, form, total, env['TALVOR_DEMO_TOTAL']))
if 'TALVOR_DEMO_LAST_VALUE' in env and values[-1] != env['TALVOR_DEMO_LAST_VALUE']:
    fail('%s of the last record is %r, not %r' % (field, values[-1], env['TALVOR_DEMO_LAST_VALUE']))
print('check_python: %d records of %s/%s read through %s with %s'
      % (total, app, form, site, sys.executable))
EOF
