// Applications, form ids and record locks, under one mutex.
#include "catalog.h"

#include <sys/stat.h>

#include <algorithm>

namespace {

std::string lower(const std::string &s) {
  std::string l = s;
  std::transform(l.begin(), l.end(), l.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return l;
}

}  // namespace

int valid_application_name(const std::string &name) {
  if (name.empty() || name.size() > 128) return 0;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-';
    if (!ok) return 0;
  }
  return 1;
}

catalog::catalog(const std::string &data_dir) : data_dir_(data_dir) {}

int catalog::find_application(const std::string &name, std::string *path) {
  if (!valid_application_name(name)) return -1;
  std::string p = data_dir_ + "/" + name + ".db";
  struct stat st;
  if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  *path = p;
  std::lock_guard<std::mutex> g(mutex_);
  auto it = app_ids_.find(name);
  if (it != app_ids_.end()) return it->second;
  int id = next_app_id_++;
  app_ids_[name] = id;
  apps_[id].name = name;
  return id;
}

int catalog::form_id(int app_id, const std::string &table) {
  std::lock_guard<std::mutex> g(mutex_);
  app_entry &a = apps_[app_id];
  std::string key = lower(table);
  auto it = a.form_ids.find(key);
  if (it != a.form_ids.end()) return it->second;
  int id = a.next_form_id++;
  a.form_ids[key] = id;
  a.forms[id] = table;
  return id;
}

int catalog::form_table(int app_id, int form_id, std::string *table) {
  std::lock_guard<std::mutex> g(mutex_);
  auto a = apps_.find(app_id);
  if (a == apps_.end()) return 0;
  auto f = a->second.forms.find(form_id);
  if (f == a->second.forms.end()) return 0;
  *table = f->second;
  return 1;
}

int catalog::lock_record(int app_id, const std::string &table, int64_t rowid, long session) {
  std::lock_guard<std::mutex> g(mutex_);
  lock_key k(app_id, lower(table), rowid);
  auto it = locks_.find(k);
  if (it != locks_.end()) return it->second == session;
  locks_[k] = session;
  return 1;
}

int catalog::record_locked(int app_id, const std::string &table, int64_t rowid, long session) {
  std::lock_guard<std::mutex> g(mutex_);
  auto it = locks_.find(lock_key(app_id, lower(table), rowid));
  return it != locks_.end() && it->second != session;
}

void catalog::release_locks(int app_id, long session) {
  std::lock_guard<std::mutex> g(mutex_);
  for (auto it = locks_.begin(); it != locks_.end();) {
    if (std::get<0>(it->first) == app_id && it->second == session)
      it = locks_.erase(it);
    else
      ++it;
  }
}
