/* The part every language module shares: the public functions, and who owns
 * what crosses the boundary. A language's own interface file sets its
 * module name and typemaps, then includes this one.
 *
 * Ownership:
 *   - Text arguments are borrowed for the length of the call.
 *   - TalvorSetValue trims its value text in place, so the module hands the
 *     library a private copy (talvor_set_value) and the host language's
 *     string never changes.
 *   - TalvorGetValue and TalvorRunProgram return a new text from malloc:
 *     the module copies it into the host language's string and frees it
 *     once, with free (SWIG's default for C++ would be delete[]).
 */

%{
#include <stdlib.h>
#include <talvor/api.h>
#include <talvor/talvor.h>
%}

%newobject TalvorGetValue;
%newobject TalvorRunProgram;
%typemap(newfree) char * "free($1);";

%feature("action") TalvorSetValue {
  talvor_set_value(arg1, arg2, arg3);
}

/* Declared with parameter names where a language shows them in its methods
 * (define TALVOR_NAMED_PARAMETERS before including this file), without
 * where usage texts must show types only. */
#ifdef TALVOR_NAMED_PARAMETERS
%include "talvor_api_named_decls.i"
#else
%include "talvor_api_decls.i"
#endif
