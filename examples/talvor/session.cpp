#include "session.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include <talvor/api.h>
#include "error_text.h"

session::~session() { disconnect(); }

bool session::connect() {
  if (connected_) return true;
  c_text address(options_.host);
  if (TalvorConnect(address.get()) != 1) {
    int code = TalvorError();
    return failed("connect", "cannot reach " + options_.host, code);
  }
  connected_ = true;
  return true;
}

void session::disconnect() {
  if (!connected_) return;
  TalvorDisconnect();
  connected_ = false;
}

open_set *session::current(const char *command) {
  if (sets_.empty()) {
    refused(command, "no result set is open (start with search)");
    return nullptr;
  }
  return &sets_.back();
}

open_set *session::find(int handle) {
  for (open_set &s : sets_)
    if (s.handle == handle) return &s;
  return nullptr;
}

void session::add(const open_set &set) {
  forget(set.handle);  // a handle the library hands out again is a new set
  sets_.push_back(set);
}

bool session::use(int handle) {
  auto it = std::find_if(sets_.begin(), sets_.end(),
                         [handle](const open_set &s) { return s.handle == handle; });
  if (it == sets_.end()) return false;
  open_set moved = *it;
  sets_.erase(it);
  sets_.push_back(moved);
  return true;
}

void session::forget(int handle) {
  sets_.erase(std::remove_if(sets_.begin(), sets_.end(),
                             [handle](const open_set &s) { return s.handle == handle; }),
              sets_.end());
}

bool failed(const std::string &command, const std::string &what, int code) {
  fflush(stdout);  // keep the message after what the command printed
  fprintf(stderr, "talvor: %s: %s (code %d: %s)\n", command.c_str(), what.c_str(), code,
          error_text(code));
  return false;
}

bool refused(const std::string &command, const std::string &what) {
  fflush(stdout);
  fprintf(stderr, "talvor: %s: %s\n", command.c_str(), what.c_str());
  return false;
}

std::string take_text(char *text) {
  if (text == nullptr) return std::string();
  std::string copy(text);
  free(text);
  return copy;
}
