// State shared by every session of a server: the applications found in the
// data directory with their ids, the form ids of each application, and the
// record locks that uncommitted changes hold.
#ifndef TALVOR_SERVER_CATALOG_H
#define TALVOR_SERVER_CATALOG_H

#include <stdint.h>

#include <map>
#include <mutex>
#include <string>
#include <tuple>

class catalog {
 public:
  explicit catalog(const std::string &data_dir);

  // Looks an application up by name: a file NAME.db in the data directory.
  // Returns its id (1 or more, stable for the server's life) with the file's
  // path in *path, or -1 when the name is not a plain file name or there is
  // no such file.
  int find_application(const std::string &name, std::string *path);

  // The id of a form (by its schema spelling) of an application, assigned on
  // first use; the same table always gets the same id.
  int form_id(int app_id, const std::string &table);
  // The table of a form id. 1 when the id was given out for that application.
  int form_table(int app_id, int form_id, std::string *table);

  // Takes the lock of a record for a session. 1 when the session holds it
  // now (also when it already did), 0 when another session holds it.
  int lock_record(int app_id, const std::string &table, int64_t rowid, long session);
  // 1 when another session than this one holds the record, else 0.
  int record_locked(int app_id, const std::string &table, int64_t rowid, long session);
  // Drops every lock a session holds in an application.
  void release_locks(int app_id, long session);

 private:
  struct app_entry {
    std::string name;
    std::map<std::string, int> form_ids;  // lower-case table name -> id
    std::map<int, std::string> forms;     // id -> table name
    int next_form_id = 1;
  };
  typedef std::tuple<int, std::string, int64_t> lock_key;  // app, lower-case table, rowid

  std::string data_dir_;
  std::mutex mutex_;
  std::map<std::string, int> app_ids_;
  std::map<int, app_entry> apps_;
  int next_app_id_ = 1;
  std::map<lock_key, long> locks_;
};

// 1 when name can name an application file: 1 to 128 characters, letters,
// digits, '_' and '-' only.
int valid_application_name(const std::string &name);

#endif
