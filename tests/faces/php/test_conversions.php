<?php
// PHP's own lenient conversions, seen through a server: which result set an
// int argument addresses, and which text the server receives.
//   php -n -d extension=talvor_php_api.so test_conversions.php TALVOR_SERVER
require __DIR__ . '/harness.php';

same(1, talvorconnect(start_server($argv[1])), 'connected');

// Four result sets in slots 0 to 3 with different totals, so that a total
// tells which slot an argument addressed.
$totals = [];
foreach (['', 'city=Uppsala', 'credit_limit>=7000', 'credit_limit<3000'] as $slot => $items) {
    same($slot, demo_search('customers', $items), "search '$items' fills slot $slot");
    $totals[$slot] = talvortotal($slot);
}
check(count(array_unique($totals)) === 4 && min($totals) > 0, 'the four sets have different totals',
      implode(', ', $totals));

$as_handle = [
    // value, the slot PHP's integer conversion makes of it (null: none)
    [2, 2],
    ['3', 3],
    ['3abc', 3],
    [' 3', 3],
    ['abc', 0],
    ['0x10', 0],
    [null, 0],
    [3.7, 3],
    [true, 1],
    [false, 0],
    // Beyond the C int range: saturated, never wrapped round onto a slot.
    [2 ** 32 + 3, null],
    [-(2 ** 32) + 3, null],
];
foreach ($as_handle as [$value, $slot]) {
    $label = 'as a handle, ' . shown($value);
    if ($slot === null) {
        same(-1, talvortotal($value), "$label addresses no slot");
        same(12, talvorerror(), "$label is out of range");
    } else {
        same($totals[$slot], talvortotal($value), "$label addresses slot $slot");
        same(0, talvorerror(), "$label: no error");
    }
}

// A read-only program that answers with its argument shows the text the
// library sent.
talvorsetcurrentposition(0, 1);
$as_text = [
    // value, the text the server receives
    [12, '12'],
    [3.5, '3.5'],
    [true, '1'],
    [false, ''],
    // A null text travels as the empty text.
    [null, ''],
    ['', ''],
    ["ab\0cd", 'ab'],
    ["\xff\xfe", "\xff\xfe"],
    ['é', 'é'],
];
foreach ($as_text as [$value, $text]) {
    $label = 'as a text, ' . shown($value);
    same("$text\n", talvorrunprogram(0, 'SELECT :arg', $value, 1), "$label reaches the server as " . shown($text));
    same(0, talvorerror(), "$label: no error");
}

foreach (array_keys($totals) as $slot) {
    talvorclose($slot);
}
talvordisconnect();
same(0, talvorerror(), 'disconnected');
finish();
