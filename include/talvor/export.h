/* Marks what the Talvor library exports.
 *
 * The library is built with hidden visibility: only declarations marked
 * TALVOR_EXPORT are visible to the programs and libraries that load it, so
 * a host that defines a helper of the same name can never replace ours.
 * Defining TALVOR_NO_EXPORT (as the language modules do) keeps everything
 * inside. */
#ifndef TALVOR_EXPORT_H
#define TALVOR_EXPORT_H

#if defined(TALVOR_NO_EXPORT) || defined(_WIN32)
#define TALVOR_EXPORT
#else
#define TALVOR_EXPORT __attribute__((visibility("default")))
#endif

#endif
