"""Talvor for Python: connections, result sets and records.

A thin layer over the module talvor_python_api (the library's functions as
they are) that turns handles into objects and error codes into exceptions::

    import talvor

    with talvor.connect('127.0.0.1:20000') as conn:
        with conn.search('demo', 'customers', 'city=Lyon', 'viewer', 'look-only') as rs:
            for record in rs:
                print(record['name'])

Texts may be given as str or bytes; values come back as str, decoded UTF-8
with surrogateescape, so ``value.encode('utf-8', 'surrogateescape')`` gives
back the stored bytes. A process has one connection at a time, and calls
block until the server answers. Every failure the library reports is raised
as talvor.Error; arguments of the wrong type raise TypeError.
"""

import talvor_python_api as _api

__all__ = ['connect', 'Connection', 'ResultSet', 'Record', 'Error', 'MEANINGS']

#: What each of the library's error codes means.
MEANINGS = {
    0: 'no error',
    1: 'the command channel could not be created',
    2: 'out of memory',
    3: 'connect: no communications thread came up (no server, refused handshake, bad address)',
    4: 'disconnect: the communications thread did not end in time',
    5: 'search: the result-set table is full',
    6: 'a reply block is missing',
    7: 'the server answered with an unexpected reply (or the connection broke)',
    8: 'search: no such form',
    9: 'search: login refused',
    10: 'search: the application could not be opened',
    11: "the handle's slot holds no result set",
    12: 'the handle is outside 0 to 1023',
    13: 'sort: no usable sort item',
    14: 'position below 1',
    15: 'the user level is too low for the operation',
    16: 'subset/parent: the result-set table is full',
    17: 'disconnect: no communications thread is running',
    18: 'no live connection (never connected, disconnected, or the connection broke)',
    19: "a text equals the protocol's end-of-list marker, which would end the request early; nothing is sent",
}

_NOT_RUNNING = 17


class Error(Exception):
    """A failure the library reported.

    ``code`` is the library's error code, ``meaning`` its description and
    ``operation`` the library function that failed.
    """

    def __init__(self, code, operation=None):
        self.code = code
        self.meaning = MEANINGS.get(code, 'unknown error')
        self.operation = operation
        where = operation + ': ' if operation else ''
        super().__init__('%s%s (code %d)' % (where, self.meaning, code))


def _checked(operation, result=None):
    """Returns result, or raises Error when the last call failed."""
    code = _api.TalvorError()
    if code:
        raise Error(code, operation)
    return result


_current = None  # the open Connection, if any


class _Closing:
    """Closes on leaving a with block. When the block ends with an
    exception, that one is raised, not an Error from closing after it (a
    lost connection, say, fails the close as well)."""

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, traceback):
        try:
            self.close()
        except Error:
            if exc_type is None:
                raise


def connect(address):
    """Connects to the server at ``host[:port[:notify port]]``.

    Returns an open Connection. A connection opened before is closed first,
    with its result sets: a process has one connection at a time.
    """
    return Connection(address)


class Connection(_Closing):
    """The process's connection to a server; a context manager that
    disconnects on exit."""

    def __init__(self, address):
        global _current
        if _current is not None:
            _current.close()
        self.closed = True
        self._open_sets = set()
        # The library may report the end of an earlier, broken connection
        # and still connect: its result decides.
        if not _api.TalvorConnect(address):
            raise Error(_api.TalvorError(), 'TalvorConnect')
        self.closed = False
        _current = self

    def search(self, application, form, search_text, user, password, option1=0, option2=0):
        """Logs ``user`` in to ``application`` and searches ``form``.

        search_text holds items such as ``city=Lyon`` separated by ``%``
        (empty or None: every record). Returns the records found as a
        ResultSet.
        """
        self._check_open()
        if search_text is None:
            search_text = ''  # the library would refuse a null text
        handle = _api.TalvorSearch(application, form, option1, option2, search_text, user, password)
        _checked('TalvorSearch')
        if handle < 0:
            # The library ends a search without a code when the server
            # refuses to open the application in an unexpected way.
            raise Error(10, 'TalvorSearch')
        return ResultSet(self, handle)

    def close(self):
        """Closes the result sets still open and disconnects. Closing a
        connection that has ended already, by itself or by an earlier close,
        does nothing."""
        global _current
        if self.closed:
            return
        # The library frees a set's slot only when the server confirms the
        # close, so sets are closed while the connection still stands. A
        # close fails only on a broken connection, whose session ended on
        # the server with its sets.
        for result_set in list(self._open_sets):
            try:
                result_set.close()
            except Error:
                pass
        self.closed = True
        if _current is self:
            _current = None
        _api.TalvorDisconnect()
        if _api.TalvorError() != _NOT_RUNNING:
            _checked('TalvorDisconnect')

    def _check_open(self):
        if self.closed:
            raise Error(18)

    def __repr__(self):
        return '<talvor.Connection %s>' % ('closed' if self.closed else 'open')


class ResultSet(_Closing):
    """Records found on the server; a context manager that closes the set on
    exit.

    ``len(rs)`` counts the records; iterating moves through them and gives a
    Record for each. Positions count from 1; ``rs.position`` is the current
    one (0 when there is none) and can be assigned to move.
    """

    def __init__(self, connection, handle):
        self.connection = connection
        self.handle = handle
        self.closed = False
        connection._open_sets.add(self)

    def __len__(self):
        return _checked('TalvorTotal', _api.TalvorTotal(self.handle))

    def __iter__(self):
        for position in range(1, len(self) + 1):
            self.move(position)
            yield Record(self, position)

    @property
    def position(self):
        """The current record's position, counted from 1; 0 for none."""
        return _checked('TalvorGetCurrentPosition', _api.TalvorGetCurrentPosition(self.handle))

    @position.setter
    def position(self, position):
        self.move(position)

    def move(self, position):
        """Makes the record at ``position`` (from 1) current."""
        _api.TalvorSetCurrentPosition(self.handle, position)
        _checked('TalvorSetCurrentPosition')

    @property
    def current(self):
        """The current record."""
        return Record(self, self.position)

    @property
    def locked(self):
        """True when another session holds the current record."""
        return bool(_checked('TalvorLocked', _api.TalvorLocked(self.handle)))

    def sort(self, *fields):
        """Sorts by the given fields, the first deciding most; a field named
        with a leading ``-`` sorts descending: ``rs.sort('city', '-name')``.
        The current record stays current."""
        items = [f[1:] + ':-1' if f.startswith('-') else f + ':1' for f in fields]
        _api.TalvorSort(self.handle, ';'.join(items))
        _checked('TalvorSort')

    def create_record(self):
        """Adds a new record to the set and makes it current."""
        _api.TalvorCreateNewRecord(self.handle)
        _checked('TalvorCreateNewRecord')

    def remove_record(self):
        """Takes the current record out of the set (it stays stored)."""
        _api.TalvorRemoveRecord(self.handle)
        _checked('TalvorRemoveRecord')

    def delete_record(self):
        """Deletes the current record from the application."""
        _api.TalvorDeleteRecord(self.handle)
        _checked('TalvorDeleteRecord')

    def subset(self, name):
        """The records of subform ``name`` that belong to the current record."""
        return ResultSet(self.connection, _checked('TalvorSubSet', _api.TalvorSubSet(self.handle, name)))

    def parent(self):
        """The parent record of the current record, as a set of its own."""
        return ResultSet(self.connection, _checked('TalvorParent', _api.TalvorParent(self.handle)))

    def reparent(self, subset_name, target):
        """Moves the current record under the current record of the
        ResultSet ``target``; subset_name names its subform ('' for the
        set's own form)."""
        _api.TalvorReparent(self.handle, subset_name, target.handle)
        _checked('TalvorReparent')

    def run(self, program, argument='', flag=1):
        """Runs ``program`` on the server for the current record and returns
        its answer. With flag 0 the run is a change, committed after it;
        any other flag (the default) is not followed by a commit."""
        return _checked('TalvorRunProgram', _api.TalvorRunProgram(self.handle, program, argument, flag))

    def close(self):
        """Closes the set. Closing twice, or after its connection was
        closed (which closed the set), does nothing."""
        if self.closed:
            return
        self.closed = True
        self.connection._open_sets.discard(self)
        if not self.connection.closed:
            _api.TalvorClose(self.handle)
            _checked('TalvorClose')

    def __repr__(self):
        return '<talvor.ResultSet %d%s>' % (self.handle, ' closed' if self.closed else '')


class Record:
    """One record of a ResultSet: ``record['name']`` reads a field,
    ``record['name'] = value`` writes it (trimmed of blanks at both ends).

    Reading or writing makes the record current in its set first.
    """

    def __init__(self, result_set, position):
        self.result_set = result_set
        self.position = position

    def _make_current(self):
        if self.result_set.position != self.position:
            self.result_set.move(self.position)

    def __getitem__(self, field):
        self._make_current()
        return _checked('TalvorGetValue', _api.TalvorGetValue(self.result_set.handle, field))

    def get(self, field, default=None):
        """The field's value, or ``default`` when it has none (the library
        gives an absent and an empty value alike, as '')."""
        value = self[field]
        return value if value != '' else default

    def __setitem__(self, field, value):
        self._make_current()
        _api.TalvorSetValue(self.result_set.handle, field, value)
        _checked('TalvorSetValue')

    def __repr__(self):
        return '<talvor.Record %d of %r>' % (self.position, self.result_set)
