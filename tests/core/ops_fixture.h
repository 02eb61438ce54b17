// A connected client against the scriptable server, shared by the tests of
// the operations after connect, with helpers to make result-set entries and
// to read back what the server received.
#ifndef TALVOR_TESTS_CORE_OPS_FIXTURE_H
#define TALVOR_TESTS_CORE_OPS_FIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "api.h"
#include "state.h"
#include "support/script_server.h"
#include "stringarray.h"

namespace opstest {

using talvortest::Reply;
using talvortest::Request;
using talvortest::ScriptServer;
using talvortest::T;

// The block that closes an open list, as it arrives (with its NUL).
inline std::string end_marker() { return T("0?432984_|_END_OF_LIST"); }

// Text blocks as the client sends them.
inline std::vector<std::string> texts(std::initializer_list<std::string> items) {
  std::vector<std::string> out;
  for (const std::string &s : items) out.push_back(T(s));
  return out;
}

inline Reply reply(int code, std::vector<std::string> blocks = {}) {
  Reply r;
  r.code = code;
  r.blocks = std::move(blocks);
  return r;
}
// Reply 8 with text blocks.
inline Reply ok(std::initializer_list<std::string> items = {}) { return reply(8, texts(items)); }
// A block of length 0: the client sees it as missing.
inline std::string missing() { return talvortest::zero_length_block(); }

// A readable picture of a request for failure messages.
inline std::string show(const Request &r) {
  std::string s = std::to_string(r.code) + "/" + std::to_string(r.count) + ":";
  for (const std::string &b : r.blocks) {
    s += " [";
    for (char c : b) s += c == '\0' ? std::string("\\0") : std::string(1, c);
    s += "]";
  }
  return s;
}

inline void expect_request(const Request &r, int code, int count, const std::vector<std::string> &blocks) {
  EXPECT_EQ(code, r.code) << show(r);
  EXPECT_EQ(count, r.count) << show(r);
  EXPECT_EQ(blocks, r.blocks) << show(r);
}

inline std::vector<int> codes_of(const std::vector<Request> &requests) {
  std::vector<int> out;
  for (const Request &r : requests) out.push_back(r.code);
  return out;
}

// Stores a new entry, allocated as the core allocates entries, in the lowest
// empty slot; returns the slot.
inline int make_entry(int application_id, int set_id, int form_id, int locked = 0, int position = 1,
                      int previous_position = 1) {
  for (int i = 0; i < result_set_slots; ++i) {
    if (ResultSet[i]) continue;
    ResultSetEntry *e = (ResultSetEntry *)malloc(sizeof(ResultSetEntry));
    *e = ResultSetEntry{application_id, set_id, form_id, locked, position, previous_position};
    ResultSet[i] = e;
    return i;
  }
  ADD_FAILURE() << "result-set table full";
  return -1;
}

inline void free_slot(int slot) {
  if (slot < 0 || slot >= result_set_slots) return;
  free(ResultSet[slot]);
  ResultSet[slot] = nullptr;
}

inline void free_all_slots() {
  for (int i = 0; i < result_set_slots; ++i) free_slot(i);
}

inline int used_slots() {
  int n = 0;
  for (int i = 0; i < result_set_slots; ++i) n += ResultSet[i] != nullptr;
  return n;
}

inline std::vector<int> entry_fields(int slot) {
  const ResultSetEntry *e = ResultSet[slot];
  if (!e) return {};
  return {e->application_id, e->set_id, e->form_id, e->locked, e->position, e->previous_position};
}

// A writable copy of a text for the char* parameters.
struct Text {
  explicit Text(const std::string &s) : bytes(s.begin(), s.end()) { bytes.push_back('\0'); }
  char *get() { return bytes.data(); }
  std::vector<char> bytes;
};

class ConnectedTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new ScriptServer();
    Text address(server_->address());
    connected_ = TalvorConnect(address.get()) == 1;
  }
  static void TearDownTestSuite() {
    if (connected_) TalvorDisconnect();
    connected_ = false;
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(connected_) << "could not connect to the script server";
    free_all_slots();
    server_->clear();
  }
  void TearDown() override {
    free_all_slots();
    global_user_level = 2;
    global_string_array_separator = ';';
  }

  ScriptServer &server() { return *server_; }
  std::vector<Request> sent() { return server_->requests(); }

  // Checks that already_sent requests were recorded and that the reply
  // stream is in step: a count on a fresh entry must reach the server as the
  // next request and come back with its own answer.
  void expect_only_probe_after(size_t already_sent) {
    int probe = make_entry(900, 901, 902);
    server_->push(ok({"4242"}));
    EXPECT_EQ(4242, TalvorTotal(probe)) << "reply stream out of step";
    std::vector<Request> all = sent();
    ASSERT_EQ(already_sent + 1, all.size());
    expect_request(all.back(), 59, 2, texts({"900", "901"}));
    free_slot(probe);
  }
  void expect_nothing_sent() { expect_only_probe_after(0); }

  inline static ScriptServer *server_ = nullptr;
  inline static bool connected_ = false;
};

}  // namespace opstest

#endif
