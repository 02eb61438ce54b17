// The chief header of the core: the public functions and the inner ones
// they call unchanged, and the password scrambling of the login.
#ifndef TALVOR_CORE_API_H
#define TALVOR_CORE_API_H

#include "talvor/api.h"

TALVOR_EXPORT int TalvorInnerConnect(char *address);
TALVOR_EXPORT void TalvorInnerDisconnect();
TALVOR_EXPORT int TalvorInnerError();
TALVOR_EXPORT int TalvorInnerSearch(char *application, char *form, int option1, int option2,
                                    char *search_text, char *user, char *password);
TALVOR_EXPORT void TalvorInnerClose(int handle);
TALVOR_EXPORT int TalvorInnerTotal(int handle);
TALVOR_EXPORT void TalvorInnerSetCurrentPosition(int handle, int position);
TALVOR_EXPORT int TalvorInnerGetCurrentPosition(int handle);
TALVOR_EXPORT int TalvorInnerLocked(int handle);
TALVOR_EXPORT char *TalvorInnerGetValue(int handle, char *field);
TALVOR_EXPORT void TalvorInnerSetValue(int handle, char *field, char *value);
TALVOR_EXPORT void TalvorInnerCreateNewRecord(int handle);
TALVOR_EXPORT void TalvorInnerRemoveRecord(int handle);
TALVOR_EXPORT void TalvorInnerDeleteRecord(int handle);
TALVOR_EXPORT void TalvorInnerSort(int handle, char *sort_text);
TALVOR_EXPORT int TalvorInnerSubSet(int handle, char *subset_name);
TALVOR_EXPORT int TalvorInnerParent(int handle);
TALVOR_EXPORT void TalvorInnerReparent(int handle, char *subset_name, int target);
TALVOR_EXPORT char *TalvorInnerRunProgram(int handle, char *program, char *argument, int flag);

// Returns a new scrambled copy of text (caller frees), or null.
TALVOR_EXPORT char *MyCrypt(char *text);

#endif
