// The public operations after connect: each calls its inner function with
// the same arguments and returns its result unchanged.
#include "core/api.h"

int TalvorSearch(char *application, char *form, int option1, int option2, char *search_text,
                 char *user, char *password) {
  return TalvorInnerSearch(application, form, option1, option2, search_text, user, password);
}
void TalvorClose(int handle) { TalvorInnerClose(handle); }
int TalvorTotal(int handle) { return TalvorInnerTotal(handle); }
void TalvorSetCurrentPosition(int handle, int position) {
  TalvorInnerSetCurrentPosition(handle, position);
}
int TalvorGetCurrentPosition(int handle) { return TalvorInnerGetCurrentPosition(handle); }
int TalvorLocked(int handle) { return TalvorInnerLocked(handle); }
char *TalvorGetValue(int handle, char *field) { return TalvorInnerGetValue(handle, field); }
void TalvorSetValue(int handle, char *field, char *value) {
  TalvorInnerSetValue(handle, field, value);
}
void TalvorCreateNewRecord(int handle) { TalvorInnerCreateNewRecord(handle); }
void TalvorRemoveRecord(int handle) { TalvorInnerRemoveRecord(handle); }
void TalvorDeleteRecord(int handle) { TalvorInnerDeleteRecord(handle); }
void TalvorSort(int handle, char *sort_text) { TalvorInnerSort(handle, sort_text); }
int TalvorSubSet(int handle, char *subset_name) { return TalvorInnerSubSet(handle, subset_name); }
int TalvorParent(int handle) { return TalvorInnerParent(handle); }
void TalvorReparent(int handle, char *subset_name, int target) {
  TalvorInnerReparent(handle, subset_name, target);
}
char *TalvorRunProgram(int handle, char *program, char *argument, int flag) {
  return TalvorInnerRunProgram(handle, program, argument, flag);
}
