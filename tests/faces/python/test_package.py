"""The package talvor against a talvor-server of its own."""

import os
import re
import unittest

import talvor
import talvor_python_api as api

from demo_server import CLERK, MANAGER, DemoServer


def readme_meanings():
    """The error table of the top README: code -> meaning."""
    with open(os.environ['TALVOR_README'], encoding='utf-8') as f:
        text = f.read()
    table = text.split('### Error codes', 1)[1]
    return {int(code): meaning for code, meaning in re.findall(r'^\| (\d+) \| (.+?) \|$', table, re.M)}


class Package(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = DemoServer()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def connect(self):
        conn = talvor.connect(self.server.address)
        self.addCleanup(conn.close)
        return conn

    def sql(self, rs, query, argument=''):
        return rs.run(query, argument).split('\n')[:-1]

    def test_session(self):
        with talvor.connect(self.server.address) as conn:
            with conn.search('demo', 'customers', '', *MANAGER) as rs:
                names = self.sql(rs, 'SELECT name FROM customers ORDER BY rowid')
                self.assertEqual(len(rs), len(names))
                with conn.search('demo', 'customers', None, *MANAGER) as everyone:
                    self.assertEqual(len(everyone), len(names))
                records = list(rs)
                self.assertEqual([r.position for r in records], list(range(1, len(names) + 1)))
                # Each record reads its own row, whichever is current.
                self.assertEqual([r['name'] for r in reversed(records)], names[::-1])

                rs.position = 2
                self.assertEqual(rs.position, 2)
                self.assertEqual(rs.current['name'], names[1])
                self.assertFalse(rs.locked)

                emails = self.sql(rs, "SELECT coalesce(email, '') FROM customers ORDER BY rowid")
                self.assertEqual([r.get('email', 'none') for r in rs], [e or 'none' for e in emails])

                rs.current['city'] = '  Oslo '
                self.assertEqual(rs.current['city'], 'Oslo')

                rs.sort('-name')
                self.assertEqual([r['name'] for r in rs], sorted(names, reverse=True))
                rs.sort('credit_limit', '-name')
                self.assertEqual([r['name'] for r in rs],
                                 self.sql(rs, 'SELECT name FROM customers ORDER BY credit_limit, name DESC'))

                rs.sort('id')
                rs.move(1)
                customer = rs.current
                with rs.subset('orders') as orders:
                    ids = self.sql(rs, 'SELECT id FROM orders WHERE customer_id = :arg ORDER BY rowid',
                                   customer['id'])
                    self.assertGreater(len(ids), 0)
                    self.assertEqual([o['id'] for o in orders], ids)
                    with orders.parent() as parent:
                        self.assertEqual(parent.current['name'], customer['name'])
                self.assertEqual(rs.run('SELECT count(*) FROM customers WHERE name = :arg', customer['name']),
                                 '1\n')
            self.assertTrue(rs.closed)
            self.assertEqual(api.TalvorTotal(rs.handle), -1)
            self.assertEqual(api.TalvorError(), 11)
        self.assertTrue(conn.closed)
        self.assertEqual(api.TalvorSearch('demo', 'customers', 0, 0, '', *MANAGER), -1)
        self.assertEqual(api.TalvorError(), 18)

    def test_closing_a_connection_closes_its_sets(self):
        conn = self.connect()
        rs = conn.search('demo', 'customers', '', *MANAGER)
        conn.close()
        self.assertTrue(rs.closed)
        conn.close()
        rs.close()
        # The set's slot was given back: the next set takes the lowest free one.
        again = self.connect().search('demo', 'customers', '', *MANAGER)
        self.assertEqual(again.handle, rs.handle)

    def test_a_new_connection_ends_the_one_before(self):
        first = self.connect()
        second = self.connect()
        self.assertTrue(first.closed)
        self.assertFalse(second.closed)
        with self.assertRaises(talvor.Error) as caught:
            first.search('demo', 'customers', '', *MANAGER)
        self.assertEqual(caught.exception.code, 18)
        self.assertGreater(len(second.search('demo', 'customers', '', *MANAGER)), 0)

    def test_a_lost_server_fails_the_call_not_the_way_out(self):
        server = DemoServer()
        self.addCleanup(server.stop)
        with self.assertRaises(talvor.Error) as caught:
            with talvor.connect(server.address) as conn:
                with conn.search('demo', 'customers', '', *MANAGER) as rs:
                    server.stop()
                    len(rs)
        self.assertEqual(caught.exception.operation, 'TalvorTotal')
        self.assertTrue(rs.closed)
        self.assertTrue(conn.closed)

    def test_failures_raise_error_with_code_and_meaning(self):
        meanings = readme_meanings()

        def search(form='customers', app='demo', user=MANAGER):
            return self.connect().search(app, form, '', *user)
        rows = [
            ('address too long', lambda: talvor.connect('x' * 2000), 3),
            ('wrong password', lambda: search(user=('manager', 'guess')), 9),
            ('unknown form', lambda: search(form='suppliers'), 8),
            ('unknown application', lambda: search(app='nosuchapp'), 10),
            ('unknown field', lambda: search().current['colour'], 7),
            ('position 0', lambda: search().move(0), 14),
            ('no sort item', lambda: search().sort(), 13),
            ('program below level 2', lambda: search(user=CLERK).run('SELECT 1'), 15),
        ]
        for what, call, code in rows:
            with self.subTest(what):
                with self.assertRaises(talvor.Error) as caught:
                    call()
                self.assertEqual(caught.exception.code, code)
                self.assertEqual(caught.exception.meaning, meanings[code])
                self.assertIn(meanings[code], str(caught.exception))

    def test_meanings_are_the_readmes(self):
        self.assertEqual(talvor.MEANINGS, readme_meanings())


if __name__ == '__main__':
    unittest.main()
