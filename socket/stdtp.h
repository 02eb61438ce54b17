// Basic types shared by the socket library.
#ifndef TALVOR_SOCKET_STDTP_H
#define TALVOR_SOCKET_STDTP_H

#include <stddef.h>
#include <time.h>

// A system socket descriptor (POSIX int descriptor).
typedef int descriptor_t;

#endif
