"""The module's copy of the core stays its own: loaded into one process
after the native library, whose symbols are global there, each keeps its
own error code and its own connection, and the module exports only its
entry point."""

import ctypes
import os
import subprocess
import unittest

# First the library, with its symbols global, so the module, imported
# after it, would bind to them if its own were visible.
native = ctypes.CDLL(os.environ['TALVOR_SHARED_LIBRARY'], mode=ctypes.RTLD_GLOBAL)

import talvor_python_api as api  # noqa: E402

from demo_server import MANAGER, DemoServer  # noqa: E402

native.talvor_connect.argtypes = [ctypes.c_char_p]
native.talvor_search.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_int,
                                 ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p]


class HiddenCore(unittest.TestCase):

    def test_each_has_its_own_error_code(self):
        api.TalvorClose(1024)
        native.talvor_close(5)
        self.assertEqual(native.talvor_error(), 11)
        self.assertEqual(api.TalvorError(), 12)

        api.TalvorClose(5)
        native.talvor_close(1024)
        self.assertEqual(api.TalvorError(), 11)
        self.assertEqual(native.talvor_error(), 12)

    def test_each_has_its_own_connection(self):
        server = DemoServer()
        self.addCleanup(server.stop)
        address = server.address.encode()
        app, form = b'demo', b'customers'
        user, password = (t.encode() for t in MANAGER)

        self.assertEqual(native.talvor_connect(address), 1)
        self.addCleanup(native.talvor_disconnect)
        self.assertEqual(api.TalvorSearch(app, form, 0, 0, b'', user, password), -1)
        self.assertEqual(api.TalvorError(), 18)
        native_handle = native.talvor_search(app, form, 0, 0, b'', user, password)
        self.assertGreaterEqual(native_handle, 0)

        self.assertEqual(api.TalvorConnect(address), 1)
        self.addCleanup(api.TalvorDisconnect)
        handle = api.TalvorSearch(app, form, 0, 0, b'', user, password)
        self.assertGreaterEqual(handle, 0)
        native.talvor_disconnect()
        self.assertEqual(native.talvor_total(native_handle), -1)
        self.assertEqual(native.talvor_error(), 18)
        self.assertGreater(api.TalvorTotal(handle), 0)
        api.TalvorClose(handle)
        self.assertEqual(api.TalvorError(), 0)

    def test_module_exports_only_its_entry_point(self):
        listing = subprocess.run([os.environ['TALVOR_NM'], '-D', '--defined-only', api._talvor_python_api.__file__],
                                 check=True, capture_output=True, text=True).stdout
        names = [line.split()[-1] for line in listing.splitlines() if line.strip()]
        self.assertEqual(names, ['PyInit__talvor_python_api'])


if __name__ == '__main__':
    unittest.main()
