#!/usr/bin/env bash
# One-command demo: installs what the build needs, builds the reference
# server and the talvor client, starts the server on a fresh demo
# application and runs a short session against it: search, navigate, read,
# edit, sort, subrecords and a server program. Everything it starts is
# stopped on the way out, whatever happens.
#
# TALVOR_BUILD_DIR=DIR builds in DIR instead of the default preset's folder.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf '\n== %s\n' "$*"; }

say "Installing build dependencies"
bash scripts/install-deps.sh

say "Building talvor-server and talvor"
if [ -n "${TALVOR_BUILD_DIR:-}" ]; then
  build_dir=$TALVOR_BUILD_DIR
  cmake -S . -B "$build_dir" -G Ninja >/dev/null
  cmake --build "$build_dir" --target talvor-server talvor
else
  build_dir=build/default
  cmake --preset default >/dev/null
  cmake --build --preset default --target talvor-server talvor
fi
server_bin=$build_dir/server/talvor-server
client_bin=$build_dir/examples/talvor/talvor

data_dir=$(mktemp -d "${TMPDIR:-/tmp}/talvor-demo-XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    # Give it a moment to roll back and exit, then insist.
    for _ in $(seq 50); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$data_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "Creating the demo application in $data_dir"
"$server_bin" --init-demo "$data_dir"

say "Starting talvor-server on free ports"
"$server_bin" --data "$data_dir" --port 0 >"$data_dir/server.log" 2>&1 &
server_pid=$!
address=""
for _ in $(seq 100); do
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "talvor-server stopped:" >&2
    cat "$data_dir/server.log" >&2
    exit 1
  fi
  address=$(sed -n 's/^listening on //p' "$data_dir/server.log" | head -n 1)
  [ -n "$address" ] && break
  sleep 0.1
done
if [ -z "$address" ]; then
  echo "talvor-server did not report its address in time" >&2
  exit 1
fi
echo "server listening on $address (pid $server_pid)"

say "A session as the manager (each command is shown after '>')"
"$client_bin" -h "$address" -a demo -u manager -p all-access --echo <<'EOF'
# Search: every customer, shown with three fields.
search customers --fields name,city,credit_limit
count
# Navigate and read the current record.
goto 3
pos
get name city email
locked
# Edit: the value is committed on the server at once.
set email carlos@mendes.example
get email
# Sort by credit limit, highest first; the current record moves with it.
sort credit_limit:-1 --fields name,credit_limit
pos
get name
# Search with items (joined by %) and open subrecords.
search customers 'city=Uppsala%name=A*' --fields name,city
sub orders --fields id,order_date,status,total
sub order_lines --fields product,quantity,unit_price
# Add a line to the first order; it is linked to that order.
create
set product 'Desk organiser'
set quantity 2
set unit_price 14.75
list
# A server program reads the current record's fields as parameters...
run "SELECT count(*), printf('%.2f', sum(quantity * unit_price)) FROM order_lines WHERE order_id = :order_id" --read-only
# ...and one run with changes is committed like an edit.
run 'UPDATE orders SET total = (SELECT sum(quantity * unit_price) FROM order_lines WHERE order_id = :order_id) WHERE id = :order_id'
parent --fields id,status,total
sets
EOF

say "A wrong password is refused"
status=0
"$client_bin" -h "$address" -a demo -u manager -p not-the-password 'search customers' || status=$?
echo "talvor exited with status $status, as expected"
[ "$status" -eq 1 ]

say "Demo finished; stopping the server"
