// What a last-error code of the client library means, in words.
#ifndef TALVOR_EXAMPLES_TALVOR_ERROR_TEXT_H
#define TALVOR_EXAMPLES_TALVOR_ERROR_TEXT_H

// A short description of code (never null); unknown codes get a generic one.
const char *error_text(int code);

#endif
