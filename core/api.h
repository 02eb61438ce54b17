// Talvor client library: the public functions.
//
// One connection per process; callers serialise their calls. Every
// operation except TalvorError resets the last-error code at entry and leaves
// its outcome there; read it with TalvorError(). Handles are result-set slot
// numbers 0..1023. Positions count from 1. Texts returned by TalvorGetValue
// and TalvorRunProgram are new malloc'ed blocks the caller frees (an empty
// text on failure). Parameters are char*, not const char*: the types are
// part of the exported names.
#ifndef TALVOR_CORE_API_H
#define TALVOR_CORE_API_H

int TalvorConnect(char *address);
void TalvorDisconnect();
int TalvorError();
int TalvorSearch(char *application, char *form, int option1, int option2, char *search_text,
                 char *user, char *password);
void TalvorClose(int handle);
int TalvorTotal(int handle);
void TalvorSetCurrentPosition(int handle, int position);
int TalvorGetCurrentPosition(int handle);
int TalvorLocked(int handle);
char *TalvorGetValue(int handle, char *field);
void TalvorSetValue(int handle, char *field, char *value);
void TalvorCreateNewRecord(int handle);
void TalvorRemoveRecord(int handle);
void TalvorDeleteRecord(int handle);
void TalvorSort(int handle, char *sort_text);
int TalvorSubSet(int handle, char *subset_name);
int TalvorParent(int handle);
void TalvorReparent(int handle, char *subset_name, int target);
char *TalvorRunProgram(int handle, char *program, char *argument, int flag);

// The inner functions, which the public ones call unchanged.
int TalvorInnerConnect(char *address);
void TalvorInnerDisconnect();
int TalvorInnerError();
int TalvorInnerSearch(char *application, char *form, int option1, int option2, char *search_text,
                      char *user, char *password);
void TalvorInnerClose(int handle);
int TalvorInnerTotal(int handle);
void TalvorInnerSetCurrentPosition(int handle, int position);
int TalvorInnerGetCurrentPosition(int handle);
int TalvorInnerLocked(int handle);
char *TalvorInnerGetValue(int handle, char *field);
void TalvorInnerSetValue(int handle, char *field, char *value);
void TalvorInnerCreateNewRecord(int handle);
void TalvorInnerRemoveRecord(int handle);
void TalvorInnerDeleteRecord(int handle);
void TalvorInnerSort(int handle, char *sort_text);
int TalvorInnerSubSet(int handle, char *subset_name);
int TalvorInnerParent(int handle);
void TalvorInnerReparent(int handle, char *subset_name, int target);
char *TalvorInnerRunProgram(int handle, char *program, char *argument, int flag);

// Returns a new scrambled copy of text (caller frees), or null.
char *MyCrypt(char *text);

#endif
