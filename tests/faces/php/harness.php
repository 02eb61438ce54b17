<?php
// Shared by the PHP module's tests, which run in the real php CLI with the
// built extension loaded:
//   php -n -d extension=talvor_php_api.so test_X.php [talvor-server]
// Checks count their failures instead of stopping at the first one; any
// warning a test did not ask for is a failure too; the script's exit status
// says whether everything held.

error_reporting(E_ALL);

$GLOBALS['talvor_failures'] = 0;
$GLOBALS['talvor_warnings'] = [];

set_error_handler(function (int $level, string $text, string $file, int $line): bool {
    $GLOBALS['talvor_warnings'][] = "$text (line $line)";
    return true;
});

function fail(string $what, string $detail = ''): void
{
    $GLOBALS['talvor_failures']++;
    echo "FAIL: $what", $detail === '' ? '' : "\n      $detail", "\n";
}

function check(bool $ok, string $what, string $detail = ''): void
{
    if ($ok) {
        echo "ok: $what\n";
    } else {
        fail($what, $detail);
    }
}

function shown($value): string
{
    return is_string($value) ? 'string "' . addcslashes($value, "\0..\37\177..\377\"\\") . '"'
                             : var_export($value, true);
}

// Strict: the value and its type.
function same($expected, $actual, string $what): void
{
    check($expected === $actual, $what, 'expected ' . shown($expected) . ', got ' . shown($actual));
}

// Runs $call and hands back what it returned and the warnings it raised.
function with_warnings(callable $call): array
{
    $before = count($GLOBALS['talvor_warnings']);
    $result = $call();
    $raised = array_slice($GLOBALS['talvor_warnings'], $before);
    array_splice($GLOBALS['talvor_warnings'], $before);
    return [$result, $raised];
}

// What $call threw, or null.
function thrown(callable $call): ?Throwable
{
    try {
        $call();
    } catch (Throwable $e) {
        return $e;
    }
    return null;
}

function finish(): void
{
    foreach ($GLOBALS['talvor_warnings'] as $w) {
        fail('no unexpected warning', $w);
    }
    $n = $GLOBALS['talvor_failures'];
    echo $n === 0 ? "all checks passed\n" : "$n check(s) failed\n";
    exit($n === 0 ? 0 : 1);
}

// Starts the talvor-server binary on a fresh demo application and free
// loopback ports; returns the address it listens on. It is stopped, and its
// folder removed, when the script ends.
function start_server(string $binary): string
{
    $dir = sys_get_temp_dir() . '/talvor-php-' . getmypid() . '-' . bin2hex(random_bytes(4));
    if (!mkdir($dir, 0700)) {
        fwrite(STDERR, "cannot create $dir\n");
        exit(2);
    }
    $remove = function () use ($dir): void {
        foreach (array_diff(scandir($dir) ?: [], ['.', '..']) as $f) {
            unlink("$dir/$f");
        }
        rmdir($dir);
    };

    $init = proc_open([$binary, '--init-demo', $dir],
                      [1 => ['file', '/dev/null', 'w'], 2 => ['file', "$dir/init.err", 'w']], $pipes);
    if (!$init || proc_close($init) !== 0) {
        fwrite(STDERR, "talvor-server --init-demo failed:\n" . @file_get_contents("$dir/init.err"));
        $remove();
        exit(2);
    }

    $server = proc_open([$binary, '--data', $dir, '--port', '0'],
                        [0 => ['file', '/dev/null', 'r'], 1 => ['pipe', 'w'],
                         2 => ['file', "$dir/server.err", 'w']], $pipes);
    if (!$server) {
        fwrite(STDERR, "cannot start $binary\n");
        $remove();
        exit(2);
    }
    register_shutdown_function(function () use ($server, $pipes, $remove): void {
        proc_terminate($server, 15);
        fclose($pipes[1]);
        proc_close($server);
        $remove();
    });

    $line = fgets($pipes[1]);
    if ($line === false || !preg_match('/^listening on (\S+)$/', rtrim($line), $m)) {
        fwrite(STDERR, 'talvor-server did not start: ' . var_export($line, true) . "\n"
                       . @file_get_contents("$dir/server.err"));
        exit(2);
    }
    return $m[1];
}

// The demo application's manager, who may change records and run programs.
function demo_search(string $form, ?string $items): int
{
    return talvorsearch('demo', $form, 0, 0, $items, 'manager', 'all-access');
}
