<?php
// Texts written through the server and read back: any bytes, empty and
// null texts, values the library trims, and a value that cannot become a
// text.
//   php -n -d extension=talvor_php_api.so test_texts.php TALVOR_SERVER
require __DIR__ . '/harness.php';

same(1, talvorconnect(start_server($argv[1])), 'connected');
$h = demo_search('customers', 'name=Carlos Mendes');
same(1, talvortotal($h), 'one customer found');

// What the database holds, read by a program rather than through the
// value functions under test.
function stored(int $h, string $field): string
{
    $row = talvorrunprogram($h, "SELECT hex($field) FROM customers WHERE rowid = :rowid", '', 1);
    return hex2bin(rtrim($row, "\n"));
}

$round_trips = [
    'bytes that are not UTF-8' => "\xff\xfe",
    'UTF-8 beyond ASCII' => 'é',
    'mixed scripts' => "Łódź – 東京 ✓",
    // Blanks, CR and LF are left out: the library trims them at the ends.
    'every byte from 1 to 255' =>
        implode('', array_map('chr', array_diff(range(1, 255), [10, 13, 32]))),
];
foreach ($round_trips as $what => $value) {
    talvorsetvalue($h, 'city', $value);
    same(0, talvorerror(), "$what: written");
    same($value, stored($h, 'city'), "$what: stored byte for byte");
    same($value, talvorgetvalue($h, 'city'), "$what: read back byte for byte");
}

talvorsetvalue($h, 'city', '');
same('', talvorgetvalue($h, 'city'), 'an empty value reads back as an empty string');
talvorsetvalue($h, 'city', 'Porto');
talvorsetvalue($h, 'city', null);
same(0, talvorerror(), 'a null value is accepted');
same('', talvorgetvalue($h, 'city'), 'a null value is written as the empty text');

// Null stays a null pointer, which the library tells from the empty text
// here: an empty search text finds every record, a null one is refused
// with code 0 before anything is sent.
$all = demo_search('customers', '');
same(talvortotal(demo_search('customers', 'id>0')), talvortotal($all), 'the empty search text finds every record');
talvorclose(2000);
same(-1, demo_search('customers', null), 'a null search text is refused');
same(0, talvorerror(), 'a null search text reaches the library as null');

// The library trims the value it is given in place; a PHP string must not
// change. String literals are interned and shared by every use in the
// script, so a literal trimmed once would reach the second call (and every
// later use) already changed.
// A new, not interned string each time.
function padded(): string
{
    return str_repeat(' ', 2) . 'Lund' . str_repeat(' ', 3);
}
for ($round = 1; $round <= 2; $round++) {
    talvorsetvalue($h, 'city', '  Lund   ');
    same(0, talvorerror(), "use $round of a padded literal: written");
    same('Lund', talvorgetvalue($h, 'city'), "use $round of a padded literal: stored trimmed");
    same(padded(), '  Lund   ', "use $round of a padded literal: the literal is unchanged");
}
$variable = padded();
$sharer = $variable;
talvorsetvalue($h, 'city', $variable);
same(padded(), $variable, 'a padded variable is unchanged');
same(padded(), $sharer, 'a variable sharing its string is unchanged');

// An object that cannot become a text stops the call before anything is
// sent: the stored value stays.
talvorsetvalue($h, 'city', 'Porto');
talvorclose(2000);
$e = thrown(fn () => talvorsetvalue($h, 'city', new stdClass()));
check($e instanceof Error, 'an object without __toString as the value throws Error',
      $e === null ? 'nothing thrown' : get_class($e));
same(12, talvorerror(), 'the library was not called');
same('Porto', stored($h, 'city'), 'the value was not sent');

talvorclose($h);
talvordisconnect();
same(0, talvorerror(), 'disconnected');
finish();
