# A session through the module against talvor-server on the demo
# application: every sub on real records, int arguments that arrive as the
# numbers they stand for, texts with any bytes in both directions, and the
# caller's value left as it was by TalvorSetValue. What the records hold is
# read back through server programs, beside the subs under test.
use strict;
use warnings;

use Test::More;
use TalvorPerlTest qw(start_server %DEMO);

my $address = start_server();

sub search {
  my ($form, $text) = @_;
  my $h = TalvorSearch($DEMO{app}, $form, 0, 0, $text, $DEMO{user}, $DEMO{password});
  cmp_ok($h, '>=', 0, "search $form '$text'") or diag('code ' . TalvorError());
  return $h;
}

# The rows of a server program's answer, one per line.
sub rows {
  my ($h, $program, $arg) = @_;
  my $answer = TalvorRunProgram($h, $program, defined $arg ? $arg : '', 1);
  is(TalvorError(), 0, "program: $program");
  my @rows = split /\n/, $answer, -1;
  pop @rows;    # after the last line feed
  return @rows;
}

# The field at every position of the set, moving through it.
sub column {
  my ($h, $field) = @_;
  my @values;
  for my $position (1 .. TalvorTotal($h)) {
    TalvorSetCurrentPosition($h, $position);
    push @values, TalvorGetValue($h, $field);
  }
  return @values;
}

is(TalvorConnect($address), 1, "connect to $address") or BAIL_OUT('code ' . TalvorError());

subtest 'search, count, move and read' => sub {
  my $h = search('customers', '');
  my @names = rows($h, 'SELECT name FROM customers ORDER BY rowid');
  cmp_ok(scalar @names, '>=', 3, 'the demo has customers');
  is(TalvorTotal($h), scalar @names, 'TalvorTotal counts them');
  is(TalvorGetCurrentPosition($h), 1, 'a new set stands on its first record');
  for my $position (reverse 1 .. @names) {
    TalvorSetCurrentPosition($h, $position);
    is(TalvorGetCurrentPosition($h), $position, "moved to $position");
    is(TalvorGetValue($h, 'name'), $names[ $position - 1 ], "the name at $position");
  }
  is(TalvorLocked($h), 0, 'nobody else holds the record');

  my ($city) = rows($h, 'SELECT city FROM customers ORDER BY rowid LIMIT 1');
  my @in_city = rows($h, 'SELECT name FROM customers WHERE city = :arg ORDER BY rowid', $city);
  my $found = search('customers', "city=$city");
  is_deeply([ column($found, 'name') ], \@in_city, "the search finds the customers of $city");

  TalvorClose($found);
  is(TalvorError(), 0, 'close');
  is(TalvorTotal($found), -1, 'a closed handle is refused');
  is(TalvorError(), 11, '... with 11');
  TalvorClose($h);
};

subtest 'int arguments arrive as the numbers they stand for' => sub {
  my $h = search('customers', '');
  # Enough records for every position below.
  TalvorCreateNewRecord($h) while TalvorError() == 0 && TalvorTotal($h) < 20;
  is(TalvorTotal($h), 20, 'records created');
  my @cases = (
    [ '12',     12 ], [ '0x10',   16 ], [ '010',   8 ], [ 3.0,  3 ], [ ' +7', 7 ],
    [ '1e1',    10 ], [ '9.0',     9 ], [ 17,     17 ], [ '0X0b', 11 ],
  );
  for my $case (@cases) {
    my ($given, $position) = @$case;
    TalvorSetCurrentPosition($h, $given);
    is(TalvorError(), 0, "move to '$given'");
    is(TalvorGetCurrentPosition($h), $position, "'$given' is position $position");
  }
  TalvorClose($h);
};

subtest 'set, and the caller keeps its value' => sub {
  my $h = search('customers', '');
  my $id = TalvorGetValue($h, 'id');
  my $city_of = 'SELECT city FROM customers WHERE id = :arg';

  # The library trims the value it sends, in place; the module gives it a
  # copy. $shared starts out sharing $padded's string buffer.
  my $padded = '  Oslo  ';
  my $shared = $padded;
  TalvorSetValue($h, 'city', $padded);
  is(TalvorError(), 0, 'set city');
  is($padded, '  Oslo  ', "the caller's string is unchanged");
  is($shared, '  Oslo  ', 'a copy sharing its buffer too');
  is(TalvorGetValue($h, 'city'), 'Oslo', 'the record holds the trimmed value');
  is_deeply([ rows($h, $city_of, $id) ], ['Oslo'], '... and so does the database');

  my $number = 42;
  ok(!eval { TalvorSetValue($h, 'city', $number); 1 }, 'a plain number is not a text');
  is(TalvorGetValue($h, 'city'), 'Oslo', '... and nothing was set');
  my $as_text = "$number";
  TalvorSetValue($h, 'city', $number);
  is(TalvorError(), 0, 'a number used as a string is a text');
  is(TalvorGetValue($h, 'city'), '42', '... and is set');

  # undef is a null text, which travels as an empty one.
  TalvorSetValue($h, 'city', undef);
  is(TalvorError(), 0, 'set undef');
  is(TalvorGetValue($h, 'city'), '', 'undef is set as an empty value');
  is(TalvorGetValue($h, undef), '', 'a null field name reads nothing');
  isnt(TalvorError(), 0, '... and is refused by the server');
  TalvorClose($h);
};

subtest 'texts are bytes in both directions' => sub {
  my $h = search('customers', '');
  # The file is not under "use utf8": "é" is its two UTF-8 bytes.
  for my $text ("\xff\xfe", 'é', "Gr\xfc\xdfe") {
    (my $shown = $text) =~ s/([^ -~])/sprintf('\\x%02x', ord $1)/ge;
    TalvorSetValue($h, 'name', $text);
    is(TalvorError(), 0, "set $shown");
    is(TalvorGetValue($h, 'name'), $text, "$shown comes back as it went");
    is(TalvorRunProgram($h, 'SELECT :arg', $text, 1), "$text\n", "$shown as a program argument and answer");
  }
  TalvorClose($h);
};

subtest 'sort, subsets and parents' => sub {
  my $h = search('customers', '');
  my @names = rows($h, 'SELECT name FROM customers ORDER BY rowid');
  TalvorSort($h, 'name:-1');
  is(TalvorError(), 0, 'sort descending');
  is_deeply([ column($h, 'name') ], [ sort { $b cmp $a } @names ], 'names run descending');

  # A char * object of SWIG's type table passes the text it points to.
  my $ascending = 'name:1';
  my $pointer = unpack('J', pack('p', $ascending));
  TalvorSort($h, bless(\$pointer, '_p_char'));
  is(TalvorError(), 0, 'sort by a char * object');
  is_deeply([ column($h, 'name') ], [ sort @names ], 'names run ascending');

  TalvorSort($h, 'no sort item');
  is(TalvorError(), 13, 'a text without a sort item is refused with 13');

  my $customer = search('customers', '');
  my ($owner) = rows($customer, 'SELECT customer_id FROM orders ORDER BY rowid LIMIT 1');
  $customer = search('customers', "id=$owner");
  my @order_ids = rows($customer, 'SELECT id FROM orders WHERE customer_id = :id ORDER BY rowid');
  my $orders = TalvorSubSet($customer, 'orders');
  cmp_ok($orders, '>=', 0, 'subset orders') or diag('code ' . TalvorError());
  is_deeply([ column($orders, 'id') ], \@order_ids, "the subset holds the customer's orders");

  my $up = TalvorParent($orders);
  cmp_ok($up, '>=', 0, 'parent') or diag('code ' . TalvorError());
  is_deeply([ column($up, 'id') ], [$owner], 'the parent set holds the customer');

  is(TalvorSubSet($customer, 'no_such_form'), -1, 'an unknown subset is refused');
  isnt(TalvorError(), 0, '... with a code');
  TalvorClose($_) for $h, $customer, $orders, $up;
};

subtest 'create, remove, delete and reparent' => sub {
  my $lines_of = 'SELECT id FROM order_lines WHERE order_id = :arg ORDER BY rowid';
  my $from = search('orders', '');
  my ($from_id, $to_id) = rows($from, 'SELECT order_id FROM order_lines GROUP BY order_id ORDER BY order_id LIMIT 2');
  $from = search('orders', "id=$from_id");
  my $to = search('orders', "id=$to_id");
  my $lines = TalvorSubSet($from, 'order_lines');
  cmp_ok($lines, '>=', 0, 'subset order_lines');
  my $line = TalvorGetValue($lines, 'id');
  TalvorReparent($lines, 'order_lines', $to);
  is(TalvorError(), 0, 'reparent');
  ok((grep { $_ eq $line } rows($from, $lines_of, $to_id)), 'the line is under the other order');

  my $all = search('order_lines', '');
  my $count = TalvorTotal($all);
  TalvorCreateNewRecord($all);
  is(TalvorError(), 0, 'create');
  is(TalvorTotal($all), $count + 1, 'the set grew');
  my $new_id = TalvorGetValue($all, 'id');
  TalvorRemoveRecord($all);
  is(TalvorError(), 0, 'remove');
  is(TalvorTotal($all), $count, 'the set shrank');
  my ($kept) = rows($all, 'SELECT count(*) FROM order_lines WHERE id = :arg', $new_id);
  is($kept, 1, 'a removed record stays in the database');

  TalvorSetCurrentPosition($all, 1);
  my $doomed = TalvorGetValue($all, 'id');
  TalvorDeleteRecord($all);
  is(TalvorError(), 0, 'delete');
  my ($left) = rows($all, 'SELECT count(*) FROM order_lines WHERE id = :arg', $doomed);
  is($left, 0, 'a deleted record is gone from the database');
  TalvorClose($_) for $from, $to, $lines, $all;
};

subtest 'disconnect' => sub {
  my $h = search('customers', '');
  my @result = TalvorDisconnect();
  is(scalar @result, 0, 'disconnect returns an empty list');
  is(TalvorError(), 0, 'disconnect succeeds');
  is(TalvorTotal($h), -1, 'calls that need the server are refused afterwards');
  is(TalvorError(), 18, '... with 18');
};

done_testing();
