<?php
// A whole session against talvor-server on its demo application, through
// every function of the module. What the database holds is read with
// server programs, beside the functions under test.
//   php -n -d extension=talvor_php_api.so test_session.php TALVOR_SERVER
require __DIR__ . '/harness.php';

// The first column of every row a read-only program answers.
function rows(int $h, string $sql, string $argument = ''): array
{
    $answer = talvorrunprogram($h, $sql, $argument, 1);
    return $answer === '' ? [] : array_map(fn ($row) => explode("\t", $row)[0],
                                           explode("\n", rtrim($answer, "\n")));
}

// The field of every record of the set, in set order.
function column(int $h, string $field): array
{
    $values = [];
    for ($position = 1, $n = talvortotal($h); $position <= $n; $position++) {
        talvorsetcurrentposition($h, $position);
        $values[] = talvorgetvalue($h, $field);
    }
    return $values;
}

$address = start_server($argv[1]);
same(1, talvorconnect($address), 'connect');
same(0, talvorerror(), 'connect: no error');

// ---- search, count, move, read

$customers = demo_search('customers', '');
check($customers >= 0, 'search every customer', 'code ' . talvorerror());
$names = rows($customers, 'SELECT name FROM customers ORDER BY rowid');
check(count($names) >= 3, 'the demo has customers to move between');
same(count($names), talvortotal($customers), 'count');
same(1, talvorgetcurrentposition($customers), 'a new set stands on its first record');
same($names[0], talvorgetvalue($customers, 'name'), 'read the first record');
talvorsetcurrentposition($customers, 3);
same(3, talvorgetcurrentposition($customers), 'move to the third record');
same($names[2], talvorgetvalue($customers, 'name'), 'read the third record');
same(0, talvorlocked($customers), 'the record is not locked');

$found = demo_search('customers', 'name=' . $names[2]);
same(1, talvortotal($found), 'a search with an item finds that customer');
talvorclose($found);
same(0, talvorerror(), 'close');
same(-1, talvortotal($found), 'a closed handle is refused');
same(11, talvorerror(), 'a closed handle: its slot is empty');

// ---- write

talvorsetvalue($customers, 'email', 'carlos@mendes.example');
same(0, talvorerror(), 'set a value');
same(['carlos@mendes.example'],
     rows($customers, 'SELECT email FROM customers WHERE rowid = :rowid'), 'the value is stored');
same('carlos@mendes.example', talvorgetvalue($customers, 'email'), 'the value reads back');

// ---- sort

talvorsort($customers, 'credit_limit:-1');
same(0, talvorerror(), 'sort by credit limit, highest first');
same($names[2], talvorgetvalue($customers, 'name'), 'the current record stays current');
same(rows($customers, 'SELECT name FROM customers ORDER BY credit_limit DESC, rowid'),
     column($customers, 'name'), 'the set is in credit-limit order');

// ---- subrecords, their parent, records made, removed, deleted, moved

$anders = demo_search('customers', 'name=Anders Lindqvist');
same(1, talvortotal($anders), 'one customer with orders');
$orders = talvorsubset($anders, 'orders');
check($orders >= 0, 'subset: the customer\'s orders', 'code ' . talvorerror());
$order_ids = rows($anders, 'SELECT id FROM orders WHERE customer_id = :id ORDER BY rowid');
check(count($order_ids) >= 2, 'the customer has orders to move lines between');
same($order_ids, column($orders, 'id'), 'the subset holds the customer\'s orders');

$up = talvorparent($orders);
check($up >= 0, 'parent of the orders', 'code ' . talvorerror());
same(['Anders Lindqvist'], column($up, 'name'), 'the parent is the customer');

talvorsetcurrentposition($orders, 1);
$lines = talvorsubset($orders, 'order_lines');
check($lines >= 0, 'subset: the first order\'s lines', 'code ' . talvorerror());
$count_lines = 'SELECT count(*) FROM order_lines WHERE order_id = :arg';
$before = (int)rows($orders, $count_lines, $order_ids[0])[0];
same($before, talvortotal($lines), 'the subset holds the order\'s lines');

talvorcreatenewrecord($lines);
same(0, talvorerror(), 'create a line');
talvorsetvalue($lines, 'product', 'Desk organiser');
same(0, talvorerror(), 'name the new line\'s product');
same($before + 1, talvortotal($lines), 'the new line is in the set');
same((string)($before + 1), rows($orders, $count_lines, $order_ids[0])[0], 'the new line belongs to the order');

talvorremoverecord($lines);
same(0, talvorerror(), 'remove the new line from the set');
same($before, talvortotal($lines), 'the line left the set');
same((string)($before + 1), rows($orders, $count_lines, $order_ids[0])[0], 'the line is still stored');

$made = demo_search('order_lines', 'product=Desk organiser');
same(1, talvortotal($made), 'the new line is found');
talvordeleterecord($made);
same(0, talvorerror(), 'delete the new line');
same((string)$before, rows($orders, $count_lines, $order_ids[0])[0], 'the line is gone');

$target = demo_search('orders', 'id=' . $order_ids[1]);
same(1, talvortotal($target), 'the second order is found');
talvorsetcurrentposition($lines, 1);
$line_id = talvorgetvalue($lines, 'id');
talvorreparent($lines, 'order_lines', $target);
same(0, talvorerror(), 'move a line under the second order');
same([$order_ids[1]], rows($lines, 'SELECT order_id FROM order_lines WHERE id = :arg', $line_id),
     'the line belongs to the second order');

// ---- programs

same('', talvorrunprogram($target, "UPDATE orders SET status = 'checked' WHERE id = :id", '', 0),
     'a changing program answers nothing');
same(0, talvorerror(), 'a changing program: no error');
same('checked', talvorgetvalue($target, 'status'), 'the change is stored');
same("3\tthree\n", talvorrunprogram($target, "SELECT 3, :arg", 'three', 1),
     'a program answers in rows of tab-separated columns');

// ---- the end

foreach ([$customers, $anders, $orders, $up, $lines, $made, $target] as $h) {
    talvorclose($h);
}
same(null, talvordisconnect(), 'disconnect returns null');
same(0, talvorerror(), 'disconnect: no error');
same(-1, demo_search('customers', ''), 'no search after disconnecting');
same(18, talvorerror(), 'no live connection');
finish();
