# Shared by the perl module's tests: the module's subs under their short
# names, a talvor-server of the test's own on a fresh demo application, and
# a guard that turns every warning into a failure.
package TalvorPerlTest;

use strict;
use warnings;

use Exporter ();
use File::Temp qw(tempdir);
use Test::More;

use talvor_perl_api;

our @ISA = ('Exporter');
our @EXPORT_OK = qw(@SUBS start_server %DEMO);

# Every sub of the package talvor_perl_apic, in registration order.
our @SUBS = qw(
  TalvorSearch TalvorClose TalvorSetCurrentPosition TalvorGetCurrentPosition TalvorTotal
  TalvorSort TalvorLocked TalvorGetValue TalvorSetValue TalvorCreateNewRecord
  TalvorRemoveRecord TalvorDeleteRecord TalvorRunProgram TalvorSubSet TalvorParent
  TalvorConnect TalvorDisconnect TalvorReparent TalvorError);

# The demo application talvor-server --init-demo writes (server/demo.cpp).
our %DEMO = (app => 'demo', user => 'manager', password => 'all-access');  # level 2

# Importing also gives the caller the subs, called as a user's program
# calls them once it has aliased them.
sub import {
  my $caller = caller;
  no strict 'refs';
  *{"${caller}::$_"} = \&{"talvor_perl_apic::$_"} for @SUBS;
  __PACKAGE__->export_to_level(1, @_);
}

# A module that warns (say about an undefined value it reads) hides a fault
# from the caller's point of view; a test sees it as one.
$SIG{__WARN__} = sub { fail("no warning: $_[0]") };

my @servers;

# Starts talvor-server (the binary in $ENV{TALVOR_SERVER}) on a new demo
# application on free loopback ports; returns its address. The server is
# stopped when the script ends.
sub start_server {
  my $binary = $ENV{TALVOR_SERVER} or BAIL_OUT('TALVOR_SERVER names no talvor-server');
  my $dir = tempdir('talvor-perl-XXXXXX', TMPDIR => 1, CLEANUP => 1);

  open(my $init, '-|', $binary, '--init-demo', $dir) or BAIL_OUT("cannot run $binary: $!");
  my @ignored = <$init>;
  close($init) or BAIL_OUT("talvor-server --init-demo $dir failed");

  my $pid = open(my $out, '-|', $binary, '--data', $dir, '--port', '0')
    or BAIL_OUT("cannot run $binary: $!");
  push @servers, [ $pid, $out ];
  my $line = <$out>;
  defined $line && $line =~ /^listening on (\S+)/
    or BAIL_OUT('talvor-server did not say where it listens');
  return $1;
}

END {
  # Keep the script's exit status: closing the pipe sets $?.
  local $?;
  for my $server (@servers) {
    my ($pid, $out) = @$server;
    kill 'TERM', $pid;
    close($out);
  }
}

1;
