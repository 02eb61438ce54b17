/* The Python 3 module: the public functions under their own names, with
 * TalvorError beside them.
 *
 * Texts cross as bytes, unchanged: a str argument is encoded UTF-8 with
 * surrogateescape and a returned text decoded the same way, so any bytes a
 * program reads can be written back as they were. bytes arguments go as
 * they are, None as a null pointer. Ints are int or bool within the 32-bit
 * signed range. Anything else is refused with SWIG's usual TypeError text,
 * naming the function, the argument's position and its C type; the first
 * refused argument ends the call before the library sees it.
 *
 * SWIG's own defaults differ (bytes refused, OverflowError for big ints,
 * texts cut at an embedded NUL), hence the typemaps. The interpreter lock is
 * held during a call: calls block, and the library allows one at a time.
 */
%module talvor_python_api

%{
#include <limits.h>
#include <string.h>
%}

/* The bytes behind a text argument. Only the set-value operation writes to
 * its text, and it is given a copy (talvor.i), so bytes objects are passed
 * without one. A text with a NUL inside is refused: the library would see
 * only the part before it, and a cut value or search text is a different
 * one. */
%typemap(in) char * (PyObject *encoded = NULL) {
  if ($input == Py_None) {
    $1 = NULL;
  } else {
    PyObject *bytes = NULL;
    if (PyUnicode_Check($input)) {
      encoded = PyUnicode_AsEncodedString($input, "utf-8", "surrogateescape");
      /* Only a surrogate that surrogateescape did not make fails here: it
       * stands for no byte, so the text has no char * form. */
      if (!encoded && !PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) SWIG_fail;
      PyErr_Clear();
      bytes = encoded;
    } else if (PyBytes_Check($input)) {
      bytes = $input;
    }
    if (!bytes || memchr(PyBytes_AS_STRING(bytes), '\0', PyBytes_GET_SIZE(bytes))) {
      SWIG_exception_fail(SWIG_TypeError, "in method '$symname', argument $argnum of type 'char *'");
    }
    $1 = PyBytes_AS_STRING(bytes);
  }
}
%typemap(freearg) char * "Py_XDECREF(encoded$argnum);";

/* A value outside int is refused like any other wrong argument, not cut
 * and not an OverflowError. */
%typemap(in) int {
  int overflow = 0;
  long value = PyLong_Check($input) ? PyLong_AsLongAndOverflow($input, &overflow) : 0;
  if (!PyLong_Check($input) || overflow || value < INT_MIN || value > INT_MAX) {
    SWIG_exception_fail(SWIG_TypeError, "in method '$symname', argument $argnum of type 'int'");
  }
  $1 = (int)value;
}

/* A returned text as str. No jump to fail on a failed decode (out of
 * memory): the text must still reach the free that follows. */
%typemap(out) char * {
  if ($1) {
    $result = PyUnicode_DecodeUTF8($1, (Py_ssize_t)strlen($1), "surrogateescape");
  } else {
    Py_INCREF(Py_None);
    $result = Py_None;
  }
}

%include "talvor.i"
