// The commands of talvor: what each one does with the current result set.
#ifndef TALVOR_EXAMPLES_TALVOR_COMMANDS_H
#define TALVOR_EXAMPLES_TALVOR_COMMANDS_H

#include <stdio.h>

#include <string>
#include <vector>

#include "session.h"

// Runs one command given as words (its name first). True when it did what
// it was asked; otherwise the reason has been printed on standard error.
bool run_command(session &s, const std::vector<std::string> &words);

// True for the words of a command that ends the run (quit, exit).
bool is_quit(const std::vector<std::string> &words);

// Prints the list of commands with their syntax.
void print_commands(FILE *to);

#endif
