#!/usr/bin/env bash
# The installed PHP extension, used the way a user would: PHP loads it
# through the installed ini snippet from the installed extension folder, and
# a short session runs against a server.
#
#   PREFIX=/scratch/prefix TALVOR_SERVER_ADDRESS=127.0.0.1:P:N check_php.sh
#
# The server serves the demo application (talvor-server --init-demo); its
# names may be given as TALVOR_DEMO_APP, TALVOR_DEMO_USER,
# TALVOR_DEMO_PASSWORD, TALVOR_DEMO_FORM and TALVOR_DEMO_FIELD. Where the
# build put the extension and the snippet is worked out from php-config as
# the build does; TALVOR_PHP_EXTENSION_DIR and TALVOR_PHP_INI_DIR (relative
# to PREFIX, or absolute) say it when the build was told otherwise. PHP
# names the interpreter (default: php). Exits 0 when everything held, 77
# (skipped) when the build made no language modules.
set -euo pipefail
[ "${TALVOR_BUILD_FACES:-ON}" = ON ] || exit 77

: "${PREFIX:?PREFIX must name the install prefix}"
: "${TALVOR_SERVER_ADDRESS:?TALVOR_SERVER_ADDRESS must name a running talvor-server}"
php=${PHP:-php}
php_config=${PHP_CONFIG:-php-config}

fail() {
  echo "check_php: $*" >&2
  exit 1
}

# PHP's own folder below its prefix, as the build takes it.
php_prefix=$("$php_config" --prefix)
default_extension_dir=$("$php_config" --extension-dir)
default_extension_dir=${default_extension_dir#"$php_prefix"/}
ini_root=$(dirname "$("$php_config" --ini-path)")
if [ -d "$ini_root/mods-available" ]; then
  default_ini_dir=$ini_root/mods-available
else
  default_ini_dir=$("$php_config" --ini-dir)
fi
# A folder below /etc is relative to the prefix's sysconfdir.
case $default_ini_dir in
  /etc/*) default_ini_dir=${default_ini_dir#/} ;;
esac

under_prefix() {
  case $1 in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s/%s\n' "$PREFIX" "$1" ;;
  esac
}
extension_dir=$(under_prefix "${TALVOR_PHP_EXTENSION_DIR:-$default_extension_dir}")
ini_file=$(under_prefix "${TALVOR_PHP_INI_DIR:-$default_ini_dir}")/talvor_php_api.ini

[ -f "$extension_dir/talvor_php_api.so" ] || fail "no talvor_php_api.so in $extension_dir"
[ -f "$ini_file" ] || fail "no ini snippet at $ini_file"
grep -qx 'extension=talvor_php_api.so' "$ini_file" || fail "$ini_file does not load talvor_php_api.so"

# The snippet is PHP's only ini file (no php.ini, no scan folder), so the
# extension is found by its name in the installed folder or not at all.
PHP_INI_SCAN_DIR= \
TALVOR_APP=${TALVOR_DEMO_APP:-demo} \
TALVOR_USER=${TALVOR_DEMO_USER:-viewer} \
TALVOR_PASSWORD=${TALVOR_DEMO_PASSWORD:-look-only} \
TALVOR_FORM=${TALVOR_DEMO_FORM:-customers} \
TALVOR_FIELD=${TALVOR_DEMO_FIELD:-name} \
  "$php" -c "$ini_file" -d "extension_dir=$extension_dir" -d display_errors=stderr <<'EOF' ||
<?php
// The script comes from standard input, where PHP defines no STDERR.
function say(string $text): void
{
    file_put_contents('php://stderr', "check_php: $text\n");
}

function fail(string $what): never
{
    say("$what (code " . talvorerror() . ')');
    exit(1);
}

if (!extension_loaded('talvor_php_api')) {
    say('the extension did not load');
    exit(1);
}
if (talvorconnect(getenv('TALVOR_SERVER_ADDRESS')) !== 1) {
    fail('connect to ' . getenv('TALVOR_SERVER_ADDRESS') . ' failed');
}
$h = talvorsearch(getenv('TALVOR_APP'), getenv('TALVOR_FORM'), 0, 0, '',
                  getenv('TALVOR_USER'), getenv('TALVOR_PASSWORD'));
if ($h < 0) {
    fail('search failed');
}
$total = talvortotal($h);
if ($total < 1) {
    fail("search found $total records");
}
talvorsetcurrentposition($h, 1);
$value = talvorgetvalue($h, getenv('TALVOR_FIELD'));
if (talvorerror() !== 0 || !is_string($value) || $value === '') {
    fail('reading ' . getenv('TALVOR_FIELD') . ' gave ' . var_export($value, true));
}
talvorclose($h);
talvordisconnect();
if (talvorerror() !== 0) {
    fail('disconnect failed');
}
say("$total records; the first one's " . getenv('TALVOR_FIELD') . " is $value");
EOF
  fail "the session through the installed extension failed"
