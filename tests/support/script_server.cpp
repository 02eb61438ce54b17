// The scriptable test server: two listeners, a thread per connection, a
// record of every request and a script of replies.
//
// Stopping never races with a serving thread over a socket object: the
// stopper only shuts down the descriptor of a connection that is
// still open (under the lock), which wakes any read or write blocked on it;
// the serving thread closes its own socket, also under the lock, so a
// descriptor is never shut down after its number was reused.
#include "support/script_server.h"

#include <stdlib.h>

#include <chrono>
#include <deque>
#include <list>

#include "protocol.h"
#include "wire.h"
#include "sockio.h"
#include "support/test_os.h"

namespace talvortest {

namespace {

const int progress_code = reply_progress;
const int success_code = reply_ok;
const int reject_code = 0;
const int disconnect_code = command_disconnect;
const int disconnect_ack_code = command_local_shutdown;
const int first_exchange_code = command_hello;
const int version_exchange_code = command_version;

std::string raw_length(int len);

void queue_block(socket_t *sock, const std::string &data) {
  if (data == zero_length_block()) {
    std::string field = raw_length(0);
    sock->buffered_write(field.data(), field.size());
    return;
  }
  s_write(sock, const_cast<char *>(data.data()), static_cast<int>(data.size()));
}

void queue_progress(socket_t *sock) {
  write_command_to_net(sock, progress_code, 1);
  queue_block(sock, T("50"));
}

void queue_raw(socket_t *sock, const std::string &bytes) {
  if (!bytes.empty()) sock->buffered_write(bytes.data(), bytes.size());
}

std::string raw_header(int code, int count) {
  char h[command_header_size];
  encode_command_header(h, code, count);
  return std::string(h, sizeof(h));
}

std::string raw_length(int len) {
  char f[block_length_field_size];
  encode_block_length(f, len);
  return std::string(f, sizeof(f));
}

}  // namespace

struct ScriptServer::Impl {
  struct Conn {
    std::unique_ptr<socket_t> sock;
    int fd = -1;
    bool notify = false;
    bool closed = false;  // guarded by mu
    std::thread thread;
  };

  Options options;
  std::unique_ptr<socket_t> command_listener;
  std::unique_ptr<socket_t> notify_listener;
  int refusing_fd = -1;  // bound, never listening: the notify port when it refuses
  int command_port = -1;
  int notify_port_number = -1;

  mutable std::mutex mu;
  mutable std::condition_variable cv;
  std::deque<Reply> script;
  Reply default_reply;
  std::vector<Request> recorded;
  int rejections_left = 0;
  int command_accepted = 0;
  int notify_accepted = 0;
  std::list<Conn> conns;  // a list: serving threads keep pointers to their entry
  bool stopping = false;
  bool holds_released = false;
  std::atomic<bool> stop_flag{false};  // read by busy loops without the lock

  std::thread command_acceptor;
  std::thread notify_acceptor;

  explicit Impl(Options o) : options(o), rejections_left(o.reject_first_exchange) {}

  void start();
  void stop();
  void accept_loop(socket_t *listener, bool notify);
  void serve(Conn *c);
  void hold(Conn *c);
  void close_conn(Conn *c);
  void record(Request r);
  Reply next_reply();
  void answer(Conn *c, const Reply &r);
  void stall_until_stopped();
  bool wait_for_release();
};

void ScriptServer::Impl::start() {
  command_listener.reset(socket_t::create_global("127.0.0.1:0", 16));
  command_port = bound_port_of(static_cast<int>(command_listener->MyGetActual()));
  if (options.listen_notify) {
    notify_listener.reset(socket_t::create_global("127.0.0.1:0", 16));
    notify_port_number = bound_port_of(static_cast<int>(notify_listener->MyGetActual()));
  } else {
    // A bound socket that never listens keeps the port ours and answers
    // every connection attempt with a refusal.
    refusing_fd = open_refusing_socket(&notify_port_number);
  }
  if (command_listener->is_ok())
    command_acceptor = std::thread(&Impl::accept_loop, this, command_listener.get(), false);
  if (notify_listener && notify_listener->is_ok())
    notify_acceptor = std::thread(&Impl::accept_loop, this, notify_listener.get(), true);
}

void ScriptServer::Impl::stop() {
  {
    std::lock_guard<std::mutex> lock(mu);
    stopping = true;
    stop_flag = true;
  }
  cv.notify_all();
  // No new connection after this: both acceptors have ended.
  if (command_acceptor.joinable()) {
    command_listener->cancel_accept();
    command_acceptor.join();
  }
  if (notify_acceptor.joinable()) {
    notify_listener->cancel_accept();
    notify_acceptor.join();
  }
  {
    std::lock_guard<std::mutex> lock(mu);
    for (Conn &c : conns)
      if (!c.closed) shutdown_both_ways(c.fd);
  }
  for (Conn &c : conns)
    if (c.thread.joinable()) c.thread.join();
  conns.clear();
  if (command_listener) command_listener->close();
  if (notify_listener) notify_listener->close();
  close_descriptor(refusing_fd);
  refusing_fd = -1;
}

void ScriptServer::Impl::accept_loop(socket_t *listener, bool notify) {
  for (;;) {
    socket_t *s = listener->accept(-1);
    std::unique_lock<std::mutex> lock(mu);
    if (stopping) {
      delete s;
      return;
    }
    if (s == nullptr) {
      // A failed accept (say, out of descriptors): retry without spinning.
      cv.wait_for(lock, std::chrono::milliseconds(10));
      continue;
    }
    conns.emplace_back();
    Conn *c = &conns.back();
    c->sock.reset(s);
    c->fd = static_cast<int>(s->MyGetActual());
    c->notify = notify;
    // Closes return at once and the kernel finishes sending in the
    // background; the library's lingering close could hold the stopping
    // server for seconds.
    disable_linger(c->fd);
    if (notify) {
      ++notify_accepted;
      c->thread = std::thread(&Impl::hold, this, c);
    } else {
      ++command_accepted;
      c->thread = std::thread(&Impl::serve, this, c);
    }
    lock.unlock();
    cv.notify_all();
  }
}

void ScriptServer::Impl::close_conn(Conn *c) {
  {
    std::lock_guard<std::mutex> lock(mu);
    c->closed = true;
    c->sock->close();
  }
  cv.notify_all();
}

void ScriptServer::Impl::record(Request r) {
  {
    std::lock_guard<std::mutex> lock(mu);
    recorded.push_back(std::move(r));
  }
  cv.notify_all();
}

Reply ScriptServer::Impl::next_reply() {
  std::lock_guard<std::mutex> lock(mu);
  if (script.empty()) return default_reply;
  Reply r = std::move(script.front());
  script.pop_front();
  return r;
}

void ScriptServer::Impl::stall_until_stopped() {
  std::unique_lock<std::mutex> lock(mu);
  cv.wait(lock, [this] { return stopping; });
}

// true once held replies may go out; false when the server stops first.
bool ScriptServer::Impl::wait_for_release() {
  std::unique_lock<std::mutex> lock(mu);
  cv.wait(lock, [this] { return holds_released || stopping; });
  return !stopping;
}

// The notify connection carries no traffic: anything that arrives is
// dropped, and the connection ends when the client closes it.
void ScriptServer::Impl::hold(Conn *c) {
  char byte;
  while (c->sock->read(&byte, 1)) {
  }
  close_conn(c);
}

void ScriptServer::Impl::serve(Conn *c) {
  socket_t *sock = c->sock.get();
  for (;;) {
    Request req;
    if (!read_command_from_net(sock, &req.code, &req.count)) break;
    // Blocks up to the count, or up to the marker when the count is
    // negative; a marker ends the list either way.
    bool broken = false;
    for (int n = 0; req.count < 0 || n < req.count; ++n) {
      char *data;
      int len;
      if (s_read_block(sock, &data, &len) != wire_ok) {
        broken = true;
        break;
      }
      req.blocks.emplace_back(data, static_cast<size_t>(len));
      bool marker = is_end_of_list(data, len);
      free(data);
      if (marker) break;
    }
    if (broken) break;
    int code = req.code;
    record(std::move(req));

    if (code == first_exchange_code && options.silent_handshake) {
      continue;  // the client's own close ends the connection
    } else if (code == first_exchange_code) {
      bool reject;
      {
        std::lock_guard<std::mutex> lock(mu);
        reject = rejections_left > 0;
        if (reject) --rejections_left;
      }
      write_command_to_net(sock, reject ? reject_code : success_code, 0);
      sock->buffered_flush();
      if (reject) break;
    } else if (code == version_exchange_code) {
      write_command_to_net(sock, options.reject_version ? reject_code : success_code, 0);
      sock->buffered_flush();
    } else if (code == disconnect_code) {
      write_command_to_net(sock, success_code, 0);
      sock->buffered_flush();
      break;
    } else if (code == disconnect_ack_code) {
      // The client acknowledges this one itself and reads nothing.
      break;
    } else {
      Reply r = next_reply();
      answer(c, r);
      // A held reply is an answer like any other once it went out; held at
      // the stop, the next read ends the session.
      if (r.fault != Reply::none && r.fault != Reply::hold) break;
    }
    if (!sock->is_ok()) break;
  }
  close_conn(c);
}

// Sends one scripted reply, faults included. A fault always ends the
// connection's service (closing it, except for stall and endless_progress,
// which leave the closing to the stop or to the client). A held reply is sent
// whole on its release, and not at all when the server stops first.
void ScriptServer::Impl::answer(Conn *c, const Reply &r) {
  socket_t *sock = c->sock.get();
  if (r.fault == Reply::hold && !wait_for_release()) return;
  for (int i = 0; i < r.progress; ++i) queue_progress(sock);
  int count = r.count != -2 ? r.count : static_cast<int>(r.blocks.size());
  switch (r.fault) {
    case Reply::none:
    case Reply::hold:
      write_command_to_net(sock, r.code, count);
      for (const std::string &b : r.blocks) queue_block(sock, b);
      break;
    case Reply::close_before:
      break;
    case Reply::close_after_header:
      write_command_to_net(sock, r.code, count);
      break;
    case Reply::close_mid_block: {
      if (r.count == -2 && count == 0) count = 1;
      write_command_to_net(sock, r.code, count);
      std::string first = r.blocks.empty() ? T("") : r.blocks[0];
      std::string framed = raw_length(static_cast<int>(first.size())) + first;
      queue_raw(sock, framed.substr(0, framed.size() / 2));
      break;
    }
    case Reply::stall:
      sock->buffered_flush();
      stall_until_stopped();
      return;
    case Reply::garbage_header:
      queue_raw(sock, std::string(command_header_size, '?'));
      break;
    case Reply::negative_length:
    case Reply::huge_length:
      if (r.count == -2 && count == 0) count = 1;
      queue_raw(sock, raw_header(r.code, count));
      queue_raw(sock, raw_length(r.fault == Reply::negative_length ? -5 : 999999999));
      break;
    case Reply::endless_progress:
      for (;;) {
        sock->buffered_flush();
        if (!sock->is_ok() || stop_flag) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        queue_progress(sock);
      }
  }
  sock->buffered_flush();
}

ScriptServer::ScriptServer() : ScriptServer(Options()) {}

ScriptServer::ScriptServer(Options options) : impl_(new Impl(options)) { impl_->start(); }

ScriptServer::~ScriptServer() { impl_->stop(); }

int ScriptServer::port() const { return impl_->command_port; }

int ScriptServer::notify_port() const { return impl_->notify_port_number; }

std::string ScriptServer::address() const {
  return "127.0.0.1:" + std::to_string(port()) + ":" + std::to_string(notify_port());
}

void ScriptServer::push(Reply reply) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->script.push_back(std::move(reply));
}

void ScriptServer::set_default(Reply reply) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->default_reply = std::move(reply);
}

void ScriptServer::release_held() {
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->holds_released = true;
  }
  impl_->cv.notify_all();
}

std::vector<Request> ScriptServer::requests() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->recorded;
}

std::vector<int> ScriptServer::codes() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  std::vector<int> out;
  for (const Request &r : impl_->recorded) out.push_back(r.code);
  return out;
}

bool ScriptServer::wait_for_requests(size_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mu);
  return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return impl_->recorded.size() >= n; });
}

int ScriptServer::command_connections() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->command_accepted;
}

int ScriptServer::notify_connections() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->notify_accepted;
}

bool ScriptServer::wait_for_connections(int command, int notify, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mu);
  return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return impl_->command_accepted >= command && impl_->notify_accepted >= notify;
  });
}

int ScriptServer::open_command_connections() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  int n = 0;
  for (const Impl::Conn &c : impl_->conns)
    if (!c.notify && !c.closed) ++n;
  return n;
}

int ScriptServer::open_notify_connections() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  int n = 0;
  for (const Impl::Conn &c : impl_->conns)
    if (c.notify && !c.closed) ++n;
  return n;
}

bool ScriptServer::wait_for_all_closed(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(impl_->mu);
  return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    for (const Impl::Conn &c : impl_->conns)
      if (!c.closed) return false;
    return true;
  });
}

void ScriptServer::clear() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->recorded.clear();
}

}  // namespace talvortest
