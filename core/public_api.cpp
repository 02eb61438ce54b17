// The public functions: each calls its inner function and hands back the
// result unchanged.
#include "core/api.h"

int TalvorConnect(char *address) { return TalvorInnerConnect(address); }
void TalvorDisconnect() { TalvorInnerDisconnect(); }
int TalvorError() { return TalvorInnerError(); }
