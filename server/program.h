// Server programs: SQL run in an application's database in the context of
// the current record of a set.
//
// The program text may hold several statements, run in order. Named
// parameters (:name, @name or $name) are bound, never pasted: :arg to the
// argument text, :FIELD to that field of the current record (any column of
// the set's form, ignoring case; :arg wins over a column called arg), and
// :rowid to the current record's rowid. A parameter that names nothing, or
// a nameless one, refuses the program.
//
// The answer is the rows of every statement that returns rows, one line per
// row ending in a line feed, columns separated by a tab, an absent value as
// nothing. In values a backslash, tab, line feed, carriage return and NUL
// are written \\ \t \n \r \0 so lines and columns stay apart.
//
// Programs may read and change the forms only: the server's own tables,
// schema changes, pragmas, attaching files and transaction control are
// refused. A program that changes data runs whole or not at all, inside the
// session's transaction (committed by the follow-up command). Only flag 0
// allows changes; with any other flag a changing statement refuses the
// program before anything runs.
#ifndef TALVOR_SERVER_PROGRAM_H
#define TALVOR_SERVER_PROGRAM_H

#include <string>

struct app_context;
struct record_set;
struct session_settings;

// Runs a program; returns a reply code (8 on success) with the answer text
// in *out.
int run_program(app_context *app, const record_set &set, const std::string &program,
                const std::string &argument, bool may_change, const session_settings &settings,
                std::string *out);

#endif
