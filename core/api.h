// The chief header of the core: the public functions and the inner ones
// they call unchanged, and the password scrambling of the login.
#ifndef TALVOR_CORE_API_H
#define TALVOR_CORE_API_H

#include "talvor/api.h"

// The inner functions, one per public function with the same parameters,
// declared from the one list of the public functions.
#define TALVOR_API(result, name, parameters, arguments) TALVOR_EXPORT result TalvorInner##name parameters;
#include "api_list.h"

// Returns a new scrambled copy of text (caller frees), or null.
TALVOR_EXPORT char *MyCrypt(char *text);

#endif
