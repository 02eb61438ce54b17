/* The PHP 8 extension talvor_php_api: the public functions under their own
 * names (PHP finds them in any case, so talvorsearch() works), plus
 * talvorerror() for the last-error code.
 *
 * Arguments follow PHP's own lenient conversions and no value is refused,
 * with these exceptions of ours:
 *   - Texts are converted into a temporary string of the wrapper, never in
 *     the argument's own zval. SWIG's default converts the zval in place,
 *     which releases an array or object argument once more than it was
 *     taken (the caller's variable can be freed under it) and leaks the
 *     converted text.
 *   - A conversion that throws (an object without __toString, an error
 *     handler that turns a warning into an exception) stops the call before
 *     the library is reached. SWIG's default would call it with "".
 *   - Ints beyond the C int range saturate instead of wrapping round, so a
 *     huge number can never address a live handle.
 */
%module talvor_php_api

/* Internal functions are not type-checked by PHP against their declared
 * types, and these accept anything: declaring "string" or "int" would only
 * mislead reflection and static analysers. */
%feature("php:type", "0");

%{
#include <limits.h>
%}

%typemap(in) int {
  zend_long value = zval_get_long(&$input);
  $1 = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : (int)value;
}

/* A string is passed as its own storage, without a copy (only set-value
 * writes to its text, and the shared description hands it a copy). */
%typemap(in) char * (zend_string *converted = NULL) {
  if (Z_ISNULL($input)) {
    $1 = NULL;
  } else if (Z_TYPE($input) == IS_STRING) {
    $1 = Z_STRVAL($input);
  } else {
    converted = zval_try_get_string(&$input);
    if (!converted) SWIG_fail;
    $1 = ZSTR_VAL(converted);
  }
}
%typemap(freearg) char * {
  if (converted$argnum) zend_string_release(converted$argnum);
}

/* The last line of defence: nothing reaches the library while an exception
 * is pending, whichever conversion raised it. */
%exception {
  if (EG(exception)) SWIG_fail;
  $action
}

%include "talvor.i"
