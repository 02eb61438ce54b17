// Talvor client library: the public functions.
//
// One connection per process; callers serialise their calls. Every
// operation except TalvorError resets the last-error code at entry and leaves
// its outcome there; read it with TalvorError(). Handles are result-set slot
// numbers 0..1023. Positions count from 1. Texts returned by TalvorGetValue
// and TalvorRunProgram are new malloc'ed blocks the caller frees (an empty
// text on failure). Parameters are char*, not const char*: the types are
// part of the exported names.
#ifndef TALVOR_API_H
#define TALVOR_API_H

#include "talvor/errors.h"
#include "talvor/export.h"

#define TALVOR_VERSION_MAJOR 0
#define TALVOR_VERSION_MINOR 1
#define TALVOR_VERSION_PATCH 0
#define TALVOR_VERSION "0.1.0"

TALVOR_EXPORT int TalvorConnect(char *address);
TALVOR_EXPORT void TalvorDisconnect();
TALVOR_EXPORT int TalvorError();
TALVOR_EXPORT int TalvorSearch(char *application, char *form, int option1, int option2,
                               char *search_text, char *user, char *password);
TALVOR_EXPORT void TalvorClose(int handle);
TALVOR_EXPORT int TalvorTotal(int handle);
TALVOR_EXPORT void TalvorSetCurrentPosition(int handle, int position);
TALVOR_EXPORT int TalvorGetCurrentPosition(int handle);
TALVOR_EXPORT int TalvorLocked(int handle);
TALVOR_EXPORT char *TalvorGetValue(int handle, char *field);
TALVOR_EXPORT void TalvorSetValue(int handle, char *field, char *value);
TALVOR_EXPORT void TalvorCreateNewRecord(int handle);
TALVOR_EXPORT void TalvorRemoveRecord(int handle);
TALVOR_EXPORT void TalvorDeleteRecord(int handle);
TALVOR_EXPORT void TalvorSort(int handle, char *sort_text);
TALVOR_EXPORT int TalvorSubSet(int handle, char *subset_name);
TALVOR_EXPORT int TalvorParent(int handle);
TALVOR_EXPORT void TalvorReparent(int handle, char *subset_name, int target);
TALVOR_EXPORT char *TalvorRunProgram(int handle, char *program, char *argument, int flag);

#endif
