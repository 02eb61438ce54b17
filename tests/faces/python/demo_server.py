"""A talvor-server of a test's own: a fresh demo application in a scratch
directory, served on free loopback ports by the built binary
($TALVOR_SERVER).

The module keeps the interpreter lock while it waits for a reply, so the
server must run in another process, never in a thread of the test's.
"""

import os
import shutil
import subprocess
import tempfile

# The demo application's users, as talvor-server --init-demo prints them.
VIEWER = ('viewer', 'look-only')  # level 0
CLERK = ('clerk', 'counter-42')  # level 1
MANAGER = ('manager', 'all-access')  # level 2


class DemoServer:
    """Starts at construction; stop() ends it and removes its data."""

    def __init__(self):
        binary = os.environ['TALVOR_SERVER']
        self.dir = tempfile.mkdtemp(prefix='talvor-python-')
        self.process = None
        try:
            subprocess.run([binary, '--init-demo', self.dir], check=True, stdout=subprocess.DEVNULL)
            self.process = subprocess.Popen([binary, '--data', self.dir, '--port', '0'],
                                            stdout=subprocess.PIPE, text=True)
            line = self.process.stdout.readline()
            if not line.startswith('listening on '):
                raise RuntimeError('talvor-server did not start: %r' % line)
            self.address = line.split()[-1]
        except BaseException:
            self.stop()
            raise

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.process.stdout.close()
            self.process = None
        shutil.rmtree(self.dir, ignore_errors=True)
