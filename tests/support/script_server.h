// A scriptable server for the test suite.
//
// Listens on two ephemeral loopback ports (command and notify), answers the
// handshake (211 then 265), records every request as code plus raw blocks,
// and answers every other request from a script of replies, in order.
// Command 1 is answered with a bare reply 8 and the connection is closed;
// command 2 is recorded and the connection closed without an answer.
#ifndef TALVOR_TESTS_SUPPORT_SCRIPT_SERVER_H
#define TALVOR_TESTS_SUPPORT_SCRIPT_SERVER_H

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace talvortest {

// A text block as the client sends it: the bytes and their NUL.
inline std::string T(const std::string &text) { return text + std::string(1, '\0'); }

// A reply payload that goes out as a block of length 0, which the client
// takes for a missing block (an empty payload travels as one byte).
inline std::string zero_length_block() { return std::string("\x01zero-length block\x01"); }

struct Request {
  int code = 0;
  int count = 0;                    // as announced in the header
  std::vector<std::string> blocks;  // raw payloads, NUL included
};

struct Reply {
  int code = 8;
  int count = -2;                   // -2: the number of blocks; else sent as given
  std::vector<std::string> blocks;  // raw payloads (use T() for texts)
  int progress = 0;                 // progress replies (84, one block "50") sent first,
                                    // before whatever the fault sends
  enum Fault {
    none,
    close_before,        // close the connection instead of answering
    close_after_header,  // send the header, then close
    close_mid_block,     // send the header and half of the first block, then close
    stall,               // never answer (the connection stays open)
    garbage_header,      // send 26 bytes of junk, then close
    negative_length,     // header, then a block length field of -5, then close
    huge_length,         // header, then a block length field of 999999999, then close
    endless_progress,    // progress replies until the client goes away
    hold                 // answer as none does, but only after release_held()
                         // (nothing, if the server stops first)
    // For close_mid_block, negative_length and huge_length the header
    // announces at least one block when count is -2.
  } fault = none;
};

class ScriptServer {
 public:
  struct Options {
    int reject_first_exchange = 0;  // answer 211 with 0 this many times (closing each time)
    bool reject_version = false;    // answer 265 with 0
    bool listen_notify = true;      // accept the notify connection (false: the port refuses it)
    bool silent_handshake = false;  // record the first exchange but never answer it
  };

  ScriptServer();
  explicit ScriptServer(Options options);
  ~ScriptServer();  // stops the threads, closes every connection

  int port() const;         // command port
  int notify_port() const;  // notify port
  // "127.0.0.1:<port>:<notify_port>"
  std::string address() const;

  void push(Reply reply);         // next answer to a scripted request
  void set_default(Reply reply);  // answer once the script is used up (default: 8, no blocks)
  void release_held();            // held replies, now and later, go out

  std::vector<Request> requests() const;  // every request so far, handshake included
  std::vector<int> codes() const;         // their codes, in order
  // Waits until at least n requests were recorded; false on timeout.
  bool wait_for_requests(size_t n, int timeout_ms = 5000) const;
  int command_connections() const;  // command connections accepted so far
  int notify_connections() const;
  // Waits until at least this many command and notify connections were
  // accepted; false on timeout.
  bool wait_for_connections(int command, int notify, int timeout_ms = 5000) const;
  // Connections that neither side has closed yet. A notify connection is
  // only ever closed here by the client (or when the server stops).
  int open_command_connections() const;
  int open_notify_connections() const;
  // Waits until no accepted connection is open any more; false on timeout.
  bool wait_for_all_closed(int timeout_ms = 5000) const;
  void clear();  // forgets the recorded requests

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace talvortest

#endif
