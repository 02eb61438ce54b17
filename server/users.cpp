// Salted password digests in the application's own database.
#include "users.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include "sha256.h"

namespace {

std::string digest(const std::string &salt, const std::string &password) {
  std::string m = salt + password;
  return sha256_hex(m.data(), m.size());
}

// 16 bytes from the system's random source, as hex.
std::string new_salt() {
  unsigned char raw[16] = {0};
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    size_t got = 0;
    while (got < sizeof(raw)) {
      ssize_t n = read(fd, raw + got, sizeof(raw) - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    close(fd);
  }
  static const char hex[] = "0123456789abcdef";
  std::string s;
  for (unsigned char c : raw) {
    s.push_back(hex[c >> 4]);
    s.push_back(hex[c & 15]);
  }
  return s;
}

// Compares without stopping at the first difference.
bool same_digest(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

int ensure_user_table(sqlite3 *db) {
  return sqlite3_exec(db,
                      "CREATE TABLE IF NOT EXISTS talvor_users ("
                      " name TEXT PRIMARY KEY NOT NULL,"
                      " salt TEXT NOT NULL,"
                      " password_hash TEXT NOT NULL,"
                      " level INTEGER NOT NULL DEFAULT 0 CHECK (level BETWEEN 0 AND 2))",
                      nullptr, nullptr, nullptr) == SQLITE_OK;
}

int set_user(sqlite3 *db, const std::string &name, const std::string &password, int level) {
  if (!ensure_user_table(db)) return 0;
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db,
                         "INSERT OR REPLACE INTO talvor_users (name, salt, password_hash, level) "
                         "VALUES (?1, ?2, ?3, ?4)",
                         -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return 0;
  }
  std::string salt = new_salt();
  std::string hash = digest(salt, password);
  sqlite3_bind_text(st, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, salt.data(), static_cast<int>(salt.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 3, hash.data(), static_cast<int>(hash.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 4, level);
  int rc = sqlite3_step(st);
  sqlite3_finalize(st);
  return rc == SQLITE_DONE;
}

int check_user(sqlite3 *db, const std::string &name, const std::string &password, int *level) {
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT salt, password_hash, level FROM talvor_users WHERE name = ?1",
                         -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return 0;
  }
  sqlite3_bind_text(st, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  int ok = 0;
  if (sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char *salt = sqlite3_column_text(st, 0);
    const unsigned char *hash = sqlite3_column_text(st, 1);
    if (salt != nullptr && hash != nullptr &&
        same_digest(digest(reinterpret_cast<const char *>(salt), password),
                    reinterpret_cast<const char *>(hash))) {
      *level = sqlite3_column_int(st, 2);
      ok = 1;
    }
  }
  sqlite3_finalize(st);
  return ok;
}
