// A socket_t that serves a fixed byte string as its input and collects what
// is written to it, so the wire and request readers run without a network.
#ifndef TALVOR_TESTS_SUPPORT_MEMORY_SOCKET_H
#define TALVOR_TESTS_SUPPORT_MEMORY_SOCKET_H

#include <stdlib.h>
#include <string.h>

#include <string>

#include "sockio.h"

class memory_socket : public socket_t {
 public:
  memory_socket(const void *data, size_t size)
      : in_(static_cast<const char *>(data), size) {
    state = ss_open;
  }
  ~memory_socket() override { discard_queue(); }

  long buffered_write(const void *buf, size_t size) override {
    char *grown = static_cast<char *>(realloc(buffer, static_cast<size_t>(buffer_size) + size + 1));
    if (grown == nullptr) return -1;
    buffer = grown;
    memcpy(buffer + buffer_size, buf, size);
    buffer_size += static_cast<long>(size);
    return static_cast<long>(size);
  }
  void buffered_flush() override {
    if (buffer_size > 0) out_.append(buffer, static_cast<size_t>(buffer_size));
    discard_queue();
  }
  // Without a clock: whatever is left is all that will ever arrive, so a
  // short input is a wait that timed out, and an empty one at end of input
  // is a closed connection.
  long read(void *buf, size_t min_size, size_t max_size, time_t) override {
    size_t left = in_.size() - pos_;
    if (left == 0 && min_size > 0) {
      err_ = 1;
      return -1;
    }
    size_t take = left < max_size ? left : max_size;
    memcpy(buf, in_.data() + pos_, take);
    pos_ += take;
    return static_cast<long>(take);
  }
  int read(void *buf, size_t size) override {
    if (in_.size() - pos_ < size) {
      // The bytes that did arrive are consumed, as on a real connection.
      pos_ = in_.size();
      err_ = 1;
      return 0;
    }
    memcpy(buf, in_.data() + pos_, size);
    pos_ += size;
    return 1;
  }
  int write(const void *buf, size_t size) override {
    out_.append(static_cast<const char *>(buf), size);
    return 1;
  }
  int is_ok() override { return err_ == 0; }
  void get_error_text(char *buf, size_t buf_size) override {
    if (buf_size > 0) {
      strncpy(buf, err_ ? "end of input" : "ok", buf_size - 1);
      buf[buf_size - 1] = '\0';
    }
  }
  long get_err() override { return err_; }
  socket_t *accept(long) override { return nullptr; }
  int cancel_accept() override { return 1; }
  int shutdown() override { return 1; }
  int close() override { return 1; }
  long MyGetActual() override { return -1; }

  const std::string &written() const { return out_; }
  size_t remaining() const { return in_.size() - pos_; }

 private:
  std::string in_;
  size_t pos_ = 0;
  std::string out_;
  long err_ = 0;
};

#endif
