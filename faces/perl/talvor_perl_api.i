/* The Perl 5 module: package talvor_perl_apic, loaded by talvor_perl_api.pm.
 *
 * Where SWIG's Perl defaults are not what callers of this module rely on,
 * the typemaps below say what is done instead:
 *   - "$@" is the error type, a space, the message and a newline. SWIG's
 *     text has no newline, so croak would append " at FILE line N."; our
 *     callers match the texts exactly.
 *   - int arguments are read as a 32-bit int, the same on every platform: a
 *     number in a string that overflows the int range is an OverflowError
 *     even when something follows it (with a 64-bit long, SWIG's reading
 *     would call that a TypeError), and a fraction is never taken for a
 *     whole number, negative ones included.
 *   - A text is any value Perl holds a string for, also a number that has
 *     been used as a string (Perl 5.36 keeps only the private string flag
 *     for those, which SWIG's SvPOK test misses).
 */
%module talvor_perl_api

%header %{
#include <errno.h>
#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>

#undef SWIG_Error
#define SWIG_Error(code, msg) \
  sv_setpvf(get_sv("@", GV_ADD), "%s %s\n", SWIG_ErrorType(code), msg)
%}

%fragment("talvor_perl_as_int", "header") {
/* 1 when d is within the int range and a whole number up to rounding error
 * (less than 8 epsilon relative to the magnitudes); d becomes that number. */
SWIGINTERN int talvor_perl_whole_int(double *d) {
  double x = *d;
  if (!(x >= INT_MIN && x <= INT_MAX)) return 0;
  double nearest = floor(x + 0.5);
  double diff = fabs(x - nearest);
  if (diff != 0 && diff / (fabs(x) + fabs(nearest)) >= 8 * DBL_EPSILON) return 0;
  *d = nearest;
  return 1;
}

SWIGINTERN int talvor_perl_as_int(pTHX_ SV *obj, int *val) {
  SvGETMAGIC(obj);
  if (SvIOK(obj)) {
    if (SvIsUV(obj) ? SvUVX(obj) > (UV)INT_MAX : (SvIVX(obj) < INT_MIN || SvIVX(obj) > INT_MAX))
      return SWIG_OverflowError;
    *val = (int)SvIVX(obj);
    return SWIG_OK;
  }
  const char *text = SvPV_nomg_nolen(obj);
  char *end = NULL;
  errno = 0;
  long long n = strtoll(text, &end, 0);
  if (end != text && (errno == ERANGE || n < INT_MIN || n > INT_MAX)) return SWIG_OverflowError;
  if (*end == '\0') {
    *val = (int)n;
    return SWIG_OK;
  }
  double d;
  if (SvNOK(obj)) {
    d = SvNVX(obj);
  } else {
    errno = 0;
    d = strtod(text, &end);
    if (*end != '\0' || errno == ERANGE) return SWIG_TypeError;
  }
  if (!talvor_perl_whole_int(&d)) return SWIG_TypeError;
  *val = (int)d;
  return SWIG_OK;
}
}

%fragment("talvor_perl_as_text", "header", fragment="SWIG_pchar_descriptor") {
/* A text argument: a pointer into the value's own string (nothing is copied),
 * null for undef, or the pointer a char * object of SWIG's type table holds. */
SWIGINTERN int talvor_perl_as_text(pTHX_ SV *obj, char **out) {
  if (SvMAGICAL(obj)) {
    /* Fetch tied and magic values once; the mortal copy lives until the
     * sub returns. */
    SV *copy = sv_newmortal();
    SvSetSV(copy, obj);
    obj = copy;
  }
  if (SvPOKp(obj)) {
    *out = SvPV_nolen(obj);
    return SWIG_OK;
  }
  if (!SvOK(obj)) {
    *out = NULL;
    return SWIG_OK;
  }
  swig_type_info *descriptor = SWIG_pchar_descriptor();
  void *pointer = NULL;
  if (descriptor && sv_isobject(obj) && SWIG_ConvertPtr(obj, &pointer, descriptor, 0) == SWIG_OK) {
    *out = (char *)pointer;
    return SWIG_OK;
  }
  return SWIG_TypeError;
}
}

%typemap(in, noblock=1, fragment="talvor_perl_as_int") int (int res) {
  res = talvor_perl_as_int(aTHX_ $input, &$1);
  if (!SWIG_IsOK(res)) {
    %argument_fail(res, "$type", $symname, $argnum);
  }
}

%typemap(in, noblock=1, fragment="talvor_perl_as_text") char * (int res) {
  res = talvor_perl_as_text(aTHX_ $input, &$1);
  if (!SWIG_IsOK(res)) {
    %argument_fail(res, "$type", $symname, $argnum);
  }
}
/* Nothing to release: texts point into the caller's values. */
%typemap(freearg) char * "";

/* The one pointer type, so that char * objects of other modules of this kind
 * are understood. */
%types(char *);

%include "talvor.i"
