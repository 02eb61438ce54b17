"""The module talvor_python_api: how arguments and results cross into
Python, and a session against a real talvor-server."""

import ctypes
import unittest

import talvor_python_api as api

from demo_server import CLERK, MANAGER, DemoServer


class Handle(int):
    pass


class Text(str):
    pass


def set_code(code):
    """Leaves the library's last-error code at 11 or 12, by a refused close."""
    api.TalvorClose({11: 5, 12: 1024}[code])
    assert api.TalvorError() == code


class Arguments(unittest.TestCase):
    """Conversions need no server: a call that passes them reaches the
    library, which refuses the empty slot or the handle out of range, and
    that code shows the library was called. A refused call leaves the code
    of the call before."""

    def test_each_argument_converts_or_is_refused_by_position(self):
        refused = 'in method {0!r}, argument {1} of type {2!r}'
        rows = [
            # function, arguments, the code the library leaves, or the
            # refused argument's position and type
            ('TalvorClose', (True,), 11),  # handle 1
            ('TalvorClose', (Handle(5),), 11),
            ('TalvorClose', (2**31 - 1,), 12),
            ('TalvorClose', (-2**31,), 12),
            ('TalvorClose', (2**31,), (1, 'int')),
            ('TalvorClose', (-2**31 - 1,), (1, 'int')),
            ('TalvorClose', (2**64,), (1, 'int')),
            ('TalvorClose', (5.0,), (1, 'int')),
            ('TalvorClose', ('5',), (1, 'int')),
            ('TalvorClose', (None,), (1, 'int')),
            ('TalvorGetValue', (5, 'name'), 11),
            ('TalvorGetValue', (5, b'name'), 11),
            ('TalvorGetValue', (5, Text('name')), 11),
            ('TalvorGetValue', (5, None), 11),
            ('TalvorGetValue', (5, '\udcff'), 11),  # surrogateescape's byte 0xff
            ('TalvorGetValue', (5, 5), (2, 'char *')),
            ('TalvorGetValue', (5, bytearray(b'name')), (2, 'char *')),
            ('TalvorGetValue', (5, 'na\0me'), (2, 'char *')),  # refused, not cut
            ('TalvorGetValue', (5, b'na\0me'), (2, 'char *')),
            ('TalvorGetValue', (5, '\ud800'), (2, 'char *')),  # a surrogate standing for no byte
            ('TalvorConnect', (None,), 3),
            ('TalvorConnect', (5,), (1, 'char *')),
            ('TalvorSearch', (1, 'f', 0, 0, '', 'u', 'p'), (1, 'char *')),
            ('TalvorSearch', ('a', 'f', 'x', 0, 5, 'u', 'p'), (3, 'int')),  # 5 is wrong too
            ('TalvorSearch', ('a', 'f', 0, 2**40, 5, 'u', 'p'), (4, 'int')),
            ('TalvorSearch', ('a', 'f', 0, 0, 5, 'u', 'p'), (5, 'char *')),
            ('TalvorSetCurrentPosition', (5, None), (2, 'int')),
            ('TalvorReparent', (5, 'orders', '3'), (3, 'int')),
            ('TalvorRunProgram', (5, 'p', 'a', 1.5), (4, 'int')),
        ]
        for function, args, outcome in rows:
            with self.subTest(function=function, args=args):
                before = 11 if outcome == 12 else 12
                set_code(before)
                call = getattr(api, function)
                if isinstance(outcome, int):
                    call(*args)
                    self.assertEqual(api.TalvorError(), outcome)
                else:
                    with self.assertRaises(TypeError) as caught:
                        call(*args)
                    self.assertEqual(str(caught.exception), refused.format(function, *outcome))
                    self.assertEqual(api.TalvorError(), before)

    def test_wrong_argument_count_is_the_interpreters_error(self):
        rows = [
            ('TalvorTotal', (), {}),
            ('TalvorDisconnect', (1,), {}),
            ('TalvorError', (0,), {}),
            ('TalvorSearch', ('demo', 'customers', 0, 0, '', 'viewer'), {}),
            ('TalvorClose', (), {'handle': 5}),  # positional only
        ]
        for function, args, kwargs in rows:
            with self.subTest(function=function, args=args, kwargs=kwargs):
                set_code(12)
                with self.assertRaises(TypeError) as caught:
                    getattr(api, function)(*args, **kwargs)
                self.assertIn(function, str(caught.exception))
                self.assertNotIn('in method', str(caught.exception))
                self.assertEqual(api.TalvorError(), 12)

    def test_refused_calls_show_in_the_error_code_and_void_functions_return_none(self):
        void_calls = [
            ('TalvorClose', (5,)),
            ('TalvorSetCurrentPosition', (5, 1)),
            ('TalvorSetValue', (5, 'name', 'x')),
            ('TalvorCreateNewRecord', (5,)),
            ('TalvorRemoveRecord', (5,)),
            ('TalvorDeleteRecord', (5,)),
            ('TalvorSort', (5, 'name:1')),
            ('TalvorReparent', (5, 'orders', 6)),
        ]
        for function, args in void_calls:
            with self.subTest(function=function):
                set_code(12)
                self.assertIsNone(getattr(api, function)(*args))
                self.assertEqual(api.TalvorError(), 11)
                self.assertEqual(api.TalvorError(), 11)  # reading it resets nothing
        self.assertIsNone(api.TalvorDisconnect())
        self.assertEqual(api.TalvorError(), 17)

    def test_text_results_of_a_refused_call_are_empty_not_none(self):
        self.assertEqual(api.TalvorGetValue(5, 'name'), '')
        self.assertEqual(api.TalvorError(), 11)
        self.assertEqual(api.TalvorRunProgram(5, 'SELECT 1', '', 1), '')
        self.assertEqual(api.TalvorError(), 11)


class Session(unittest.TestCase):
    """Against a talvor-server of this class's own, on the demo
    application. Expected data is asked of the server with SQL programs."""

    @classmethod
    def setUpClass(cls):
        cls.server = DemoServer()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.handles = []
        self.addCleanup(self.end_session)
        self.assertEqual(api.TalvorConnect(self.server.address), 1, 'code %d' % api.TalvorError())

    def end_session(self):
        for handle in self.handles:
            api.TalvorClose(handle)
        api.TalvorDisconnect()

    def keep(self, handle, what):
        self.assertGreaterEqual(handle, 0, '%s: code %d' % (what, api.TalvorError()))
        self.handles.append(handle)
        return handle

    def search(self, form, text='', user=MANAGER):
        return self.keep(api.TalvorSearch('demo', form, 0, 0, text, *user), 'search ' + form)

    def sql(self, handle, query, argument=''):
        """The rows a read-only program answers, one text per row."""
        answer = api.TalvorRunProgram(handle, query, argument, 1)
        self.assertEqual(api.TalvorError(), 0, query)
        return answer.split('\n')[:-1]

    def column(self, handle, field):
        values = []
        for position in range(1, api.TalvorTotal(handle) + 1):
            api.TalvorSetCurrentPosition(handle, position)
            values.append(api.TalvorGetValue(handle, field))
        self.assertEqual(api.TalvorError(), 0)
        return values

    def test_every_operation_in_one_session(self):
        h = self.search('customers')
        names = self.sql(h, 'SELECT name FROM customers ORDER BY rowid')
        self.assertEqual(api.TalvorTotal(h), len(names))
        self.assertEqual(self.column(h, 'name'), names)

        api.TalvorSetCurrentPosition(h, 3)
        self.assertEqual(api.TalvorGetCurrentPosition(h), 3)
        self.assertEqual(api.TalvorLocked(h), 0)
        self.assertEqual(api.TalvorGetValue(h, 'NAME'), names[2])  # field names ignore case

        api.TalvorSetValue(h, 'city', 'Coimbra')
        self.assertEqual(api.TalvorError(), 0)
        self.assertEqual(api.TalvorGetValue(h, 'city'), 'Coimbra')
        self.assertEqual(self.sql(h, 'SELECT city FROM customers WHERE rowid = :rowid'), ['Coimbra'])

        api.TalvorSort(h, 'name:-1')
        self.assertEqual(api.TalvorError(), 0)
        self.assertEqual(self.column(h, 'name'), sorted(names, reverse=True))

        # The orders of the customer with the most, and back to the customer.
        owner, count = self.sql(h, 'SELECT customer_id, count(*) FROM orders GROUP BY customer_id'
                                   ' ORDER BY count(*) DESC, customer_id LIMIT 1')[0].split('\t')
        h = self.search('customers', 'id=' + owner)
        orders = self.keep(api.TalvorSubSet(h, 'orders'), 'subset')
        self.assertEqual(api.TalvorTotal(orders), int(count))
        self.assertEqual(set(self.column(orders, 'customer_id')), {owner})
        parent = self.keep(api.TalvorParent(orders), 'parent')
        self.assertEqual(api.TalvorGetValue(parent, 'id'), owner)

        # A new order line under the current order, then deleted again.
        lines = self.keep(api.TalvorSubSet(orders, 'order_lines'), 'subset')
        before = api.TalvorTotal(lines)
        api.TalvorCreateNewRecord(lines)
        api.TalvorSetValue(lines, 'product', 'Paper clips')
        self.assertEqual(api.TalvorError(), 0)
        self.assertEqual(api.TalvorTotal(lines), before + 1)
        self.assertEqual(api.TalvorGetValue(lines, 'order_id'), api.TalvorGetValue(orders, 'id'))
        api.TalvorDeleteRecord(lines)
        self.assertEqual(api.TalvorError(), 0)
        self.assertEqual(self.sql(lines, "SELECT count(*) FROM order_lines WHERE product = 'Paper clips'"), ['0'])

        self.assertEqual(api.TalvorRunProgram(h, 'SELECT name FROM customers WHERE id = :arg', owner, 1),
                         api.TalvorGetValue(parent, 'name') + '\n')

        for handle in self.handles:
            api.TalvorClose(handle)
            self.assertEqual(api.TalvorError(), 0)
        self.handles = []
        api.TalvorDisconnect()
        self.assertEqual(api.TalvorError(), 0)
        self.assertEqual(api.TalvorSearch('demo', 'customers', 0, 0, '', *MANAGER), -1)
        self.assertEqual(api.TalvorError(), 18)

    def test_null_and_empty_texts(self):
        everyone = self.search('customers')
        count = self.sql(everyone, 'SELECT count(*) FROM customers')
        for text in ('', b''):
            with self.subTest(search_text=text):
                h = self.search('customers', text)
                self.assertEqual([str(api.TalvorTotal(h))], count)
        # None is a null pointer, which the library's search refuses
        # before it sends anything (and without a code).
        self.assertEqual(api.TalvorSearch('demo', 'customers', 0, 0, None, *MANAGER), -1)
        self.assertEqual(api.TalvorError(), 0)
        for value in (None, '', b''):
            with self.subTest(value=value):
                api.TalvorSetValue(everyone, 'email', 'someone@example.org')
                api.TalvorSetValue(everyone, 'email', value)
                self.assertEqual(api.TalvorError(), 0)
                self.assertEqual(api.TalvorGetValue(everyone, 'email'), '')
                self.assertEqual(self.sql(everyone, 'SELECT quote(email) FROM customers WHERE rowid = :rowid'),
                                 ["''"])

    def test_any_bytes_survive_a_write_and_a_read(self):
        h = self.search('customers')
        rows = [
            # written, the bytes the server must hold
            (b'\xff\xfe', b'\xff\xfe'),
            ('\udcff\udcfe', b'\xff\xfe'),  # the same, as surrogateescape reads them
            ('Malmö', 'Malmö'.encode()),
            (b'Malm\xc3\xb6', 'Malmö'.encode()),
            ('Malm\udcf6', b'Malm\xf6'),  # Latin-1 ö: not UTF-8
        ]
        for written, stored in rows:
            with self.subTest(written=written):
                api.TalvorSetValue(h, 'city', written)
                self.assertEqual(api.TalvorError(), 0)
                self.assertEqual(self.sql(h, 'SELECT hex(city) FROM customers WHERE rowid = :rowid'),
                                 [stored.hex().upper()])
                read = api.TalvorGetValue(h, 'city')
                self.assertIsInstance(read, str)
                self.assertEqual(read.encode('utf-8', 'surrogateescape'), stored)
                answer = api.TalvorRunProgram(h, 'SELECT city FROM customers WHERE rowid = :rowid', '', 1)
                self.assertEqual(answer.encode('utf-8', 'surrogateescape'), stored + b'\n')
                api.TalvorSetValue(h, 'city', read)  # written back unchanged
                self.assertEqual(self.sql(h, 'SELECT hex(city) FROM customers WHERE rowid = :rowid'),
                                 [stored.hex().upper()])

    def test_set_value_trims_what_it_sends_not_the_callers_text(self):
        # The library trims the value in place. Handed a str's or bytes'
        # own storage, it would change these constants for every later use
        # (the compiler shares them); the copies below are built at run
        # time, so they stay as they are written.
        rows = [
            ('  padded  ', ''.join([' ', ' ', 'padded', ' ', ' '])),
            (b'  padded  ', b''.join([b' ', b' ', b'padded', b' ', b' '])),
            ('  päddéd  ', ''.join([' ', ' ', 'päddéd', ' ', ' '])),
        ]
        h = self.search('customers')
        for value, copy in rows:
            with self.subTest(value=copy):
                for _ in range(2):  # and once more with the same constant
                    api.TalvorSetValue(h, 'city', value)
                    self.assertEqual(api.TalvorError(), 0)
                    self.assertEqual(value, copy)
                    self.assertEqual(api.TalvorGetValue(h, 'city'), copy.strip() if isinstance(copy, str)
                                     else copy.strip().decode())

    def test_texts_given_and_returned_are_freed(self):
        heap_in_use = _heap_in_use_function()
        if heap_in_use is None:
            self.skipTest('no mallinfo2 in this C library')
        h = self.search('customers')
        big = 'x' * 100_000
        api.TalvorSetValue(h, 'city', big)
        calls = [
            ('TalvorGetValue', lambda: api.TalvorGetValue(h, 'city')),
            ('TalvorRunProgram', lambda: api.TalvorRunProgram(h, 'SELECT :arg', big, 1)),
            ('TalvorSetValue', lambda: api.TalvorSetValue(h, 'city', big)),
        ]
        for function, call in calls:
            with self.subTest(function=function):
                for _ in range(5):
                    call()
                before = heap_in_use()
                for _ in range(50):
                    call()
                grown = heap_in_use() - before
                self.assertEqual(api.TalvorError(), 0)
                # Kept texts would hold 5 MB.
                self.assertLess(grown, 1_000_000)

    def test_error_codes_of_refused_operations(self):
        customers = self.search('customers')
        rows = [
            ('wrong password', lambda: api.TalvorSearch('demo', 'customers', 0, 0, '', 'manager', 'guess'), 9),
            ('program below level 2', lambda: api.TalvorRunProgram(self.search('customers', '', CLERK),
                                                                   'SELECT 1', '', 1), 15),
            ('position 0', lambda: api.TalvorSetCurrentPosition(customers, 0), 14),
            ('no sort item', lambda: api.TalvorSort(customers, ''), 13),
        ]
        for what, call, code in rows:
            with self.subTest(what):
                call()
                self.assertEqual(api.TalvorError(), code)


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ('arena', 'ordblks', 'smblks', 'hblks', 'hblkhd', 'usmblks', 'fsmblks', 'uordblks',
                 'fordblks', 'keepcost')]


def _heap_in_use_function():
    """Bytes allocated with malloc in the main arena and as mapped blocks
    (glibc), or None."""
    mallinfo2 = getattr(ctypes.CDLL(None), 'mallinfo2', None)
    if mallinfo2 is None:
        return None
    mallinfo2.restype = _MallInfo2

    def heap_in_use():
        info = mallinfo2()
        return info.uordblks + info.hblkhd
    return heap_in_use


if __name__ == '__main__':
    unittest.main()
