#!/usr/bin/env bash
# The installed perl module, used as a program would use it: loaded from the
# install prefix (nothing from the build tree), it connects to a running
# talvor-server, searches, counts, reads a value and disconnects.
#
# Environment:
#   PREFIX                  the install prefix (cmake --install --prefix)
#   TALVOR_SERVER_ADDRESS   a talvor-server serving the demo application
#   TALVOR_DEMO_APP, TALVOR_DEMO_USER, TALVOR_DEMO_PASSWORD,
#   TALVOR_DEMO_FORM, TALVOR_DEMO_FIELD
#                           what to search and read (the demo's by default)
#   TALVOR_PERL_INSTALL_DIR where the module went below PREFIX, if it was
#                           configured away from perl's vendor arch directory
#   PERL                    the perl to use (default: perl)
# Exits 0 when every step worked, 77 (skipped) when the build made no
# language modules, 1 otherwise.
set -euo pipefail
[ "${TALVOR_BUILD_FACES:-ON}" = ON ] || exit 77

: "${PREFIX:?PREFIX must name the install prefix}"
: "${TALVOR_SERVER_ADDRESS:?TALVOR_SERVER_ADDRESS must name a running talvor-server}"
perl=${PERL:-perl}

# The default install place: perl's vendor arch directory relative to its
# vendor prefix, as the build computes it.
# shellcheck disable=SC2016  # the quoted text is perl, not shell
dir=${TALVOR_PERL_INSTALL_DIR:-$("$perl" -MConfig -e '
  my ($arch, $prefix) = @Config{qw(vendorarch vendorprefix)};
  ($arch, $prefix) = @Config{qw(sitearch siteprefix)} unless $arch;
  print $arch && $prefix && index($arch, "$prefix/") == 0 ? substr($arch, length($prefix) + 1) : "lib/perl5";
')}
case $dir in
  /*) ;;
  *) dir=$PREFIX/$dir ;;
esac

for f in "$dir/talvor_perl_api.pm" "$dir/auto/talvor_perl_api/talvor_perl_api.so"; do
  if [[ ! -f $f ]]; then
    echo "check_perl: $f is not installed" >&2
    exit 1
  fi
done

TALVOR_PERL_DIR=$dir "$perl" -I"$dir" - <<'PERL'
use strict;
use warnings;
use talvor_perl_api;

my $dir = $ENV{TALVOR_PERL_DIR};
my $address = $ENV{TALVOR_SERVER_ADDRESS};
my $app = $ENV{TALVOR_DEMO_APP} // 'demo';
my $user = $ENV{TALVOR_DEMO_USER} // 'manager';
my $password = $ENV{TALVOR_DEMO_PASSWORD} // 'all-access';
my $form = $ENV{TALVOR_DEMO_FORM} // 'customers';
my $field = $ENV{TALVOR_DEMO_FIELD} // 'name';

sub fail { print STDERR "check_perl: @_\n"; exit 1 }
sub code { ' (code ' . talvor_perl_apic::TalvorError() . ')' }

# The module and its library both come from the install.
index($INC{'talvor_perl_api.pm'}, "$dir/") == 0
  or fail("talvor_perl_api.pm came from $INC{'talvor_perl_api.pm'}, not $dir");
my ($library) = grep { m{/talvor_perl_api\.so$} } @DynaLoader::dl_shared_objects;
defined $library && index($library, "$dir/") == 0
  or fail('the library came from ' . ($library // 'nowhere') . ", not $dir");

talvor_perl_apic::TalvorConnect($address) == 1 or fail("cannot connect to $address" . code());
my $h = talvor_perl_apic::TalvorSearch($app, $form, 0, 0, '', $user, $password);
$h >= 0 or fail("search of $app/$form as $user refused" . code());
my $total = talvor_perl_apic::TalvorTotal($h);
$total >= 1 or fail("$app/$form has no records: $total" . code());
talvor_perl_apic::TalvorSetCurrentPosition($h, 1);
my $value = talvor_perl_apic::TalvorGetValue($h, $field);
talvor_perl_apic::TalvorError() == 0 && defined $value or fail("cannot read $field" . code());
talvor_perl_apic::TalvorClose($h);
talvor_perl_apic::TalvorDisconnect();
talvor_perl_apic::TalvorError() == 0 or fail('disconnect failed' . code());
print "check_perl: $form has $total records; the first $field is '$value'\n";
PERL
