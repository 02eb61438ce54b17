// The users of an application: the table talvor_users of its database
// (name, salt, password_hash, level), hidden from clients. A password is
// kept only as the SHA-256 of salt and password.
#ifndef TALVOR_SERVER_USERS_H
#define TALVOR_SERVER_USERS_H

#include <string>

struct sqlite3;

// Creates the user table when it is missing. 1 on success.
int ensure_user_table(sqlite3 *db);

// Adds a user or replaces its password and level. 1 on success.
int set_user(sqlite3 *db, const std::string &name, const std::string &password, int level);

// Checks a user's password. 1 with *level set when they match; 0 for an
// unknown user, a wrong password or a database without a user table.
int check_user(sqlite3 *db, const std::string &name, const std::string &password, int *level);

#endif
