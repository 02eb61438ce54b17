/* Talvor client library: the C interface.
 *
 * The same operations as the C++ functions of talvor/api.h, under C names
 * that C programs and the foreign-function layers of other languages can
 * call, with const texts. One connection per process; callers serialise
 * their calls. Every function except talvor_error resets the last-error code
 * and leaves its outcome there; read it with talvor_error() and describe it
 * with talvor_error_text(). Handles are result-set slots 0..1023; positions
 * count from 1. Texts returned by talvor_get_value and talvor_run_program
 * are new blocks the caller releases with talvor_free (an empty text on
 * failure; null only when memory runs out).
 */
#ifndef TALVOR_TALVOR_H
#define TALVOR_TALVOR_H

#include "talvor/errors.h"
#include "talvor/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when connected, 0 when not. address: "host[:port[:notify port]]". */
TALVOR_EXPORT int talvor_connect(const char *address);
TALVOR_EXPORT void talvor_disconnect(void);
/* The code of the last operation; 0 when it succeeded. */
TALVOR_EXPORT int talvor_error(void);
/* A new result-set handle, or -1. */
TALVOR_EXPORT int talvor_search(const char *application, const char *form, int option1, int option2,
                                const char *search_text, const char *user, const char *password);
TALVOR_EXPORT void talvor_close(int handle);
TALVOR_EXPORT int talvor_total(int handle);
TALVOR_EXPORT void talvor_set_current_position(int handle, int position);
TALVOR_EXPORT int talvor_get_current_position(int handle);
TALVOR_EXPORT int talvor_locked(int handle);
TALVOR_EXPORT char *talvor_get_value(int handle, const char *field);
/* Unlike TalvorSetValue, leaves value unchanged: the library trims a copy. */
TALVOR_EXPORT void talvor_set_value(int handle, const char *field, const char *value);
TALVOR_EXPORT void talvor_create_new_record(int handle);
TALVOR_EXPORT void talvor_remove_record(int handle);
TALVOR_EXPORT void talvor_delete_record(int handle);
TALVOR_EXPORT void talvor_sort(int handle, const char *sort_text);
TALVOR_EXPORT int talvor_subset(int handle, const char *subset_name);
TALVOR_EXPORT int talvor_parent(int handle);
TALVOR_EXPORT void talvor_reparent(int handle, const char *subset_name, int target);
TALVOR_EXPORT char *talvor_run_program(int handle, const char *program, const char *argument, int flag);

/* Releases a text returned by the library; null is ignored. */
TALVOR_EXPORT void talvor_free(void *text);
/* A short English description of an error code (never null). */
TALVOR_EXPORT const char *talvor_error_text(int code);

#ifdef __cplusplus
}
#endif

#endif
