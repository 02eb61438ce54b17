# The module's subs without a server: which arguments they take, the exact
# texts in $@ when they refuse one, that a refused call never reaches the
# library, and what they return.
use strict;
use warnings;

use Test::More;
use TalvorPerlTest qw(@SUBS);

# With no connection, TalvorDisconnect leaves 17. Every call the library
# makes resets that code, so a 17 still there afterwards shows that the sub
# refused before calling it. Slot 5 is empty (code 11); 1024 is outside the
# table (code 12).
sub preset { TalvorDisconnect() }
my $not_called = 17;

{
  no strict 'refs';
  my @defined = grep { defined &{"talvor_perl_apic::$_"} } keys %talvor_perl_apic::;
  is_deeply([ sort @defined ], [ sort @SUBS ], 'talvor_perl_apic holds one sub per call');
}

subtest 'a wrong argument count dies with the usage text' => sub {
  my %usage = (
    TalvorSearch             => 'TalvorSearch(char *,char *,int,int,char *,char *,char *)',
    TalvorClose              => 'TalvorClose(int)',
    TalvorSetCurrentPosition => 'TalvorSetCurrentPosition(int,int)',
    TalvorGetCurrentPosition => 'TalvorGetCurrentPosition(int)',
    TalvorTotal              => 'TalvorTotal(int)',
    TalvorSort               => 'TalvorSort(int,char *)',
    TalvorLocked             => 'TalvorLocked(int)',
    TalvorGetValue           => 'TalvorGetValue(int,char *)',
    TalvorSetValue           => 'TalvorSetValue(int,char *,char *)',
    TalvorCreateNewRecord    => 'TalvorCreateNewRecord(int)',
    TalvorRemoveRecord       => 'TalvorRemoveRecord(int)',
    TalvorDeleteRecord       => 'TalvorDeleteRecord(int)',
    TalvorRunProgram         => 'TalvorRunProgram(int,char *,char *,int)',
    TalvorSubSet             => 'TalvorSubSet(int,char *)',
    TalvorParent             => 'TalvorParent(int)',
    TalvorConnect            => 'TalvorConnect(char *)',
    TalvorDisconnect         => 'TalvorDisconnect()',
    TalvorReparent           => 'TalvorReparent(int,char *,int)',
    TalvorError              => 'TalvorError()',
  );
  is_deeply([ sort keys %usage ], [ sort @SUBS ], 'a usage text for every sub');
  for my $name (@SUBS) {
    my ($params) = $usage{$name} =~ /\((.*)\)/;
    my $count = $params eq '' ? 0 : 1 + ($params =~ tr/,//);
    my @counts = ($count + 1, $count > 0 ? ($count - 1) : ());
    for my $given (@counts) {
      preset();
      my $sub = do { no strict 'refs'; \&{"talvor_perl_apic::$name"} };
      ok(!eval { $sub->((5) x $given); 1 }, "$name with $given arguments dies");
      is($@, "RuntimeError Usage: $usage{$name};\n", "$name with $given arguments: \$\@");
      is(TalvorError(), $not_called, "$name with $given arguments is not called");
    }
  }
};

subtest 'an argument that does not convert dies naming it' => sub {
  my $int1 = "in method 'TalvorTotal', argument 1 of type 'int'";
  my $text2 = "in method 'TalvorSort', argument 2 of type 'char *'";
  my @cases = (
    # int
    [ 'digits then letters',        sub { TalvorTotal('12abc') },          "TypeError $int1" ],
    [ 'letters',                    sub { TalvorTotal('abc') },            "TypeError $int1" ],
    [ 'a fraction',                 sub { TalvorTotal(3.5) },              "TypeError $int1" ],
    [ 'a negative fraction',        sub { TalvorTotal(-3.5) },             "TypeError $int1" ],
    [ 'a fraction in a string',     sub { TalvorTotal('2.25') },           "TypeError $int1" ],
    [ 'a reference',                sub { TalvorTotal([]) },               "TypeError $int1" ],
    [ 'eleven nines',               sub { TalvorTotal('9' x 11) },         "OverflowError $int1" ],
    [ 'beyond int, then letters',   sub { TalvorTotal('99999999999abc') }, "OverflowError $int1" ],
    [ 'one below the int range',    sub { TalvorTotal('-2147483649') },    "OverflowError $int1" ],
    [ 'hex beyond int',             sub { TalvorTotal('0x80000000') },     "OverflowError $int1" ],
    [ 'an integer beyond int',      sub { TalvorTotal(2147483648) },       "OverflowError $int1" ],
    [ 'a float beyond int',         sub { TalvorTotal(1e10) },             "OverflowError $int1" ],
    [ 'a float far beyond int',     sub { TalvorTotal(1e20) },             "TypeError $int1" ],
    [ 'a later int argument',
      sub { TalvorSearch('demo', 'customers', 0, 'x', '', 'u', 'p') },
      "TypeError in method 'TalvorSearch', argument 4 of type 'int'" ],
    [ 'the last int argument',
      sub { TalvorRunProgram(5, 'SELECT 1', '', '1.5') },
      "TypeError in method 'TalvorRunProgram', argument 4 of type 'int'" ],
    # text
    [ 'a plain integer',            sub { TalvorSort(5, 42) },             "TypeError $text2" ],
    [ 'a plain float',              sub { TalvorSort(5, 4.5) },            "TypeError $text2" ],
    [ 'an array reference',         sub { TalvorSort(5, ['name:1']) },     "TypeError $text2" ],
    [ 'an object of another class', sub { TalvorSort(5, bless({}, 'Other')) }, "TypeError $text2" ],
    [ 'a number as the value',
      sub { TalvorSetValue(5, 'city', 7000) },
      "TypeError in method 'TalvorSetValue', argument 3 of type 'char *'" ],
    [ 'a number as the address',
      sub { TalvorConnect(20000) },
      "TypeError in method 'TalvorConnect', argument 1 of type 'char *'" ],
    # The first argument that fails is the one named.
    [ 'two bad arguments',
      sub { TalvorSort('x', 42) },
      "TypeError in method 'TalvorSort', argument 1 of type 'int'" ],
  );
  for my $case (@cases) {
    my ($what, $call, $error) = @$case;
    preset();
    ok(!eval { $call->(); 1 }, "$what dies");
    is($@, "$error\n", "$what: \$\@");
    is(TalvorError(), $not_called, "$what: not called");
  }
};

subtest 'arguments that convert reach the library' => sub {
  my $number_as_text = 42;
  my $used = "$number_as_text";
  my $text_as_number = '42';
  my $sum = $text_as_number + 1;
  my $sort = 'name:1';
  my $pointer = unpack('J', pack('p', $sort));
  my $char_object = bless \$pointer, '_p_char';
  # The library's answers tell which handle arrived: slot 5 is empty (11),
  # 1024 lies outside the table (12).
  my @cases = (
    # int
    [ 'an integer',                 sub { TalvorTotal(5) },             11 ],
    [ 'a decimal string',           sub { TalvorTotal('5') },           11 ],
    [ 'blanks and a sign',          sub { TalvorTotal(' +5') },         11 ],
    [ 'a whole float',              sub { TalvorTotal(5.0) },           11 ],
    [ 'a whole float in a string',  sub { TalvorTotal('5e0') },         11 ],
    [ 'a regex capture',            sub { '<5>' =~ /(\d)/ && TalvorTotal($1) }, 11 ],
    [ 'hex, the last slot',         sub { TalvorTotal('0x3ff') },       11 ],
    [ 'hex, past the last slot',    sub { TalvorTotal('0x400') },       12 ],
    [ 'octal, past the last slot',  sub { TalvorTotal('02000') },       12 ],
    [ 'the largest int',            sub { TalvorTotal('2147483647') },  12 ],
    [ 'the smallest int',           sub { TalvorTotal('-2147483648') }, 12 ],
    # text
    [ 'a string',                   sub { TalvorSort(5, 'name:1') },       11 ],
    [ 'an empty string',            sub { TalvorSort(5, '') },             11 ],
    [ 'undef',                      sub { TalvorSort(5, undef) },          11 ],
    [ 'a number used as a string',  sub { TalvorSort(5, $number_as_text) }, 11 ],
    [ 'a string used as a number',  sub { TalvorSort(5, $text_as_number) }, 11 ],
    [ 'a text regex capture',       sub { 'x=name:1' =~ /=(.*)/ && TalvorSort(5, $1) }, 11 ],
    [ 'bytes outside ASCII',        sub { TalvorSort(5, "\xff\xfe") },     11 ],
    [ 'a char * object',            sub { TalvorSort(5, $char_object) },   11 ],
    [ 'undef everywhere',
      sub { TalvorRunProgram(5, undef, undef, 0) }, 11 ],
  );
  for my $case (@cases) {
    my ($what, $call, $code) = @$case;
    preset();
    ok(eval { $call->(); 1 }, "$what is taken") or diag($@);
    is(TalvorError(), $code, "$what: called");
  }
};

# A tied value is fetched once, as any other argument is read once.
{
  package Fetched;
  sub TIESCALAR { my ($class, $value) = @_; return bless { value => $value, fetches => 0 }, $class }
  sub FETCH { my $self = shift; $self->{fetches}++; return $self->{value} }
}

subtest 'tied arguments' => sub {
  my @cases = (
    [ 'an int',  '0x5',    sub { TalvorTotal($_[0]) },      11 ],
    [ 'a text',  'name:1', sub { TalvorSort(5, $_[0]) },    11 ],
    [ 'undef',   undef,    sub { TalvorSort(5, $_[0]) },    11 ],
    [ 'a plain number as a text', 42, sub { TalvorSort(5, $_[0]) }, $not_called ],
  );
  for my $case (@cases) {
    my ($what, $value, $call, $code) = @$case;
    my $tied = tie my $argument, 'Fetched', $value;
    preset();
    eval { $call->($argument) };
    is(TalvorError(), $code, "tied $what: " . ($code == $not_called ? 'refused' : 'called'));
    is($tied->{fetches}, 1, "tied $what: fetched once");
  }
};

subtest 'results' => sub {
  # Subs without a result give an empty list, undef in scalar context.
  my @void = (
    [ TalvorClose              => sub { TalvorClose(5) } ],
    [ TalvorSetCurrentPosition => sub { TalvorSetCurrentPosition(5, 1) } ],
    [ TalvorSort               => sub { TalvorSort(5, 'name:1') } ],
    [ TalvorSetValue           => sub { TalvorSetValue(5, 'city', 'x') } ],
    [ TalvorCreateNewRecord    => sub { TalvorCreateNewRecord(5) } ],
    [ TalvorRemoveRecord       => sub { TalvorRemoveRecord(5) } ],
    [ TalvorDeleteRecord       => sub { TalvorDeleteRecord(5) } ],
    [ TalvorReparent           => sub { TalvorReparent(5, 'orders', 6) } ],
    [ TalvorDisconnect         => sub { TalvorDisconnect() } ],
  );
  for my $case (@void) {
    my ($name, $call) = @$case;
    my @list = $call->();
    is(scalar @list, 0, "$name returns an empty list");
    my $scalar = $call->();
    is($scalar, undef, "$name returns undef in scalar context");
  }

  # A refused call without a result is seen through TalvorError.
  TalvorClose(5);
  is(TalvorError(), 11, 'TalvorClose on an empty slot leaves 11');
  is_deeply([ TalvorTotal(5) ], [ -1 ], 'a number comes back as one value');
  is(TalvorError(), 11, 'TalvorTotal on an empty slot leaves 11');

  # A failed text call gives the library's empty text, not undef.
  for my $case ([ TalvorGetValue => sub { TalvorGetValue(5, 'name') } ],
                [ TalvorRunProgram => sub { TalvorRunProgram(5, 'SELECT 1', '', 1) } ]) {
    my ($name, $call) = @$case;
    my @list = $call->();
    is_deeply(\@list, [''], "$name on an empty slot returns one empty string");
    is(TalvorError(), 11, "$name on an empty slot leaves 11");
  }
};

done_testing();
