# The module's library exports its boot function and nothing else: the copy
# of the client inside it must never bind to another copy's symbols when a
# process loads several modules, nor a host's symbols to it.
use strict;
use warnings;

use Test::More;

my ($nm, $library) = @ARGV;
defined $library or BAIL_OUT('usage: exports.t NM LIBRARY');

my @lines = `"$nm" -D --defined-only "$library"`;
is($?, 0, "$nm -D --defined-only ran") or BAIL_OUT("cannot list the symbols of $library");
my @symbols = map { (split ' ')[-1] } @lines;
is_deeply(\@symbols, ['boot_talvor_perl_api'], 'only the boot function is exported');

done_testing();
