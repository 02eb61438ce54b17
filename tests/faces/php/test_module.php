<?php
// The module on its own, without a server: what it registers, wrong
// argument counts, results of refused calls and their codes, arguments that
// cannot become texts, and the caller's variables after a call.
require __DIR__ . '/harness.php';

// Codes of the library (include/talvor/api.h).
const EMPTY_SLOT = 11;
const BAD_HANDLE = 12;
const NOT_RUNNING = 17;
const NOT_CONNECTED = 18;

// Leaves a code that none of the calls below would leave if it reached the
// library (they address the empty slot 5, connect, or search without a
// connection), so finding it afterwards proves the call stopped short.
function mark(): void
{
    talvorclose(2000);
}

class Unprintable
{
}

class ThrowsOnText
{
    public function __toString(): string
    {
        throw new RuntimeException('no text for you');
    }
}

// Counts its releases, to see that a call neither keeps nor drops a
// reference it does not own.
class Named
{
    public static int $released = 0;

    public function __construct(private string $text)
    {
    }

    public function __toString(): string
    {
        return $this->text;
    }

    public function __destruct()
    {
        self::$released++;
    }
}

// ---- what the extension registers

same(['talvorsearch', 'talvorclose', 'talvorsetcurrentposition', 'talvorgetcurrentposition',
      'talvortotal', 'talvorsort', 'talvorlocked', 'talvorgetvalue', 'talvorsetvalue',
      'talvorcreatenewrecord', 'talvorremoverecord', 'talvordeleterecord', 'talvorrunprogram',
      'talvorsubset', 'talvorparent', 'talvorconnect', 'talvordisconnect', 'talvorreparent',
      'talvorerror'],
     array_map('strtolower', get_extension_funcs('talvor_php_api') ?: []),
     'the 18 functions and talvorerror, in registration order');

// ---- a wrong argument count throws before anything is converted or called

$wrong_counts = [
    ['talvorconnect', []],
    ['talvorclose', [5, 5]],
    ['talvorgetvalue', [5]],
    ['talvorsearch', ['demo', 'customers', 0, 0, '', 'manager']],
    ['talvorrunprogram', [5, 'SELECT 1', '', 1, 0]],
    ['talvordisconnect', [null]],
    ['talvorerror', [0]],
];
foreach ($wrong_counts as [$name, $args]) {
    $label = "$name with " . count($args) . ' argument(s)';
    mark();
    $e = thrown(fn () => $name(...$args));
    check($e instanceof ArgumentCountError, "$label throws ArgumentCountError",
          $e === null ? 'nothing thrown' : get_class($e));
    same('Wrong parameter count for ' . (new ReflectionFunction($name))->getName() . '()',
         $e?->getMessage(), "$label: message");
    same(BAD_HANDLE, talvorerror(), "$label: the library was not called");
}

// ---- refused calls: their results, and the code talvorerror() reads

$refused = [
    // function, arguments, result, code
    ['talvorclose', [5], null, EMPTY_SLOT],
    ['talvorclose', [1024], null, BAD_HANDLE],
    ['talvorclose', [-1], null, BAD_HANDLE],
    ['talvorsetcurrentposition', [5, 1], null, EMPTY_SLOT],
    ['talvorsort', [5, 'name:1'], null, EMPTY_SLOT],
    ['talvorsetvalue', [5, 'name', 'x'], null, EMPTY_SLOT],
    ['talvorcreatenewrecord', [5], null, EMPTY_SLOT],
    ['talvorremoverecord', [5], null, EMPTY_SLOT],
    ['talvordeleterecord', [5], null, EMPTY_SLOT],
    ['talvorreparent', [5, '', 6], null, EMPTY_SLOT],
    ['talvordisconnect', [], null, NOT_RUNNING],
    ['talvortotal', [5], -1, EMPTY_SLOT],
    ['talvorsubset', [5, 'orders'], -1, EMPTY_SLOT],
    ['talvorsearch', ['demo', 'customers', 0, 0, '', 'manager', 'all-access'], -1, NOT_CONNECTED],
    // Failed texts are empty, not null.
    ['talvorgetvalue', [5, 'name'], '', EMPTY_SLOT],
    ['talvorrunprogram', [5, 'SELECT 1', '', 1], '', EMPTY_SLOT],
];
foreach ($refused as [$name, $args, $result, $code]) {
    $label = $name . '(' . implode(', ', array_map('json_encode', $args)) . ')';
    mark();
    same($result, $name(...$args), "$label returns " . shown($result));
    same($code, talvorerror(), "$label leaves code $code");
}

// ---- an argument that cannot become a text stops the call

$uncastable = [
    'an object without __toString' => [fn () => new Unprintable(), Error::class],
    'a closure' => [fn () => fn () => 1, Error::class],
    'an object whose __toString throws' => [fn () => new ThrowsOnText(), RuntimeException::class],
];
$text_positions = [
    'talvorgetvalue, field' => fn ($x) => talvorgetvalue(5, $x),
    'talvorsetvalue, value' => fn ($x) => talvorsetvalue(5, 'name', $x),
    'talvorsearch, password (the last argument)' =>
        fn ($x) => talvorsearch('demo', 'customers', 0, 0, '', 'manager', $x),
    'talvorconnect, address' => fn ($x) => talvorconnect($x),
];
foreach ($uncastable as $what => [$make, $class]) {
    foreach ($text_positions as $where => $call) {
        $label = "$what as $where";
        mark();
        $e = thrown(fn () => $call($make()));
        check($e instanceof $class, "$label throws $class", $e === null ? 'nothing thrown' : get_class($e));
        same(BAD_HANDLE, talvorerror(), "$label: the library was not called");
    }
}

// A warning that an error handler turns into an exception stops the call
// too, from an int argument as well as from a text.
set_error_handler(function (int $level, string $text): bool {
    throw new ErrorException($text, 0, $level);
});
foreach (['an array as a text' => fn () => talvorgetvalue(5, [1]),
          'an object as an int' => fn () => talvorclose(new Unprintable())] as $what => $call) {
    mark();
    $e = thrown($call);
    check($e instanceof ErrorException, "$what, warning thrown by the handler: the call throws",
          $e === null ? 'nothing thrown' : get_class($e));
    same(BAD_HANDLE, talvorerror(), "$what, warning thrown by the handler: the library was not called");
}
restore_error_handler();

// ---- the caller's variables keep their value and type

$handle = '5';
talvorclose($handle);
same(EMPTY_SLOT, talvorerror(), "the text '5' as a handle addresses slot 5");
same('5', $handle, "a text used as a handle is still that text");

$handle = 5.75;
talvorclose($handle);
same(5.75, $handle, 'a float used as a handle is still that float');

$field = 12;
talvorgetvalue(5, $field);
same(12, $field, 'an int used as a text is still that int');

$field = true;
talvorgetvalue(5, $field);
same(true, $field, 'a bool used as a text is still that bool');

$list = range(1, 3);
[, $warnings] = with_warnings(function () use (&$list) {
    return talvorgetvalue(5, $list);
});
check(count($warnings) === 1 && str_starts_with($warnings[0], 'Array to string conversion'),
      'an array as a text gives PHP\'s own warning', implode('; ', $warnings));
same([1, 2, 3], $list, 'an array used as a text is still that array');

$named = new Named('city');
talvorgetvalue(5, $named);
talvorsetvalue(5, $named, $named);
same(0, Named::$released, 'an object used as a text is not released by the call');
same('city', (string)$named, 'an object used as a text is still usable');
unset($named);
same(1, Named::$released, 'an object used as a text is released once, by its owner');

// ---- texts made from other values are released after the call

talvorgetvalue(5, 1000);
$before = memory_get_usage();
for ($i = 1000; $i < 11000; $i++) {
    talvorgetvalue(5, $i);
}
$growth = memory_get_usage() - $before;
check($growth < 10000, 'ints converted to texts are released after the call',
      "memory grew by $growth bytes over 10000 calls");

finish();
