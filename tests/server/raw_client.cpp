// The test client of the reference server.
#include "server/raw_client.h"

#include <stdlib.h>

#include "wire.h"
#include "protocol.h"
#include "sockio.h"
#include "support/test_os.h"

namespace talvortest {

std::string scramble(const std::string &password) {
  std::string s = password;
  talvor_scramble_bytes(reinterpret_cast<unsigned char *>(&s[0]), s.size());
  return s;
}

raw_client::raw_client(int port, const std::string &host, int timeout_s) {
  std::string address = host + ":" + std::to_string(port);
  sock_ = socket_t::connect(address.c_str(), socket_t::sock_global_domain, 1, 0);
  if (sock_->is_ok()) set_receive_timeout(static_cast<int>(sock_->MyGetActual()), timeout_s);
}

raw_client::~raw_client() { delete sock_; }

bool raw_client::connected() const { return sock_->is_ok(); }

void raw_client::close() { sock_->close(); }

bool raw_client::send(int code, const std::vector<std::string> &blocks, bool list) {
  write_command_to_net(sock_, code, list ? -1 : static_cast<int>(blocks.size()));
  for (const std::string &b : blocks)
    s_write(sock_, const_cast<char *>(b.c_str()), static_cast<int>(b.size() + 1));
  if (list) s_write(sock_, const_cast<char *>(END_OF_LIST), end_of_list_size);
  sock_->buffered_flush();
  return sock_->is_ok();
}

bool raw_client::send_raw(const std::string &bytes) {
  return sock_->write(bytes.data(), bytes.size()) == 1;
}

raw_reply raw_client::read(bool skip_progress) {
  raw_reply r;
  for (;;) {
    int code = 0, count = 0;
    if (!read_command_from_net(sock_, &code, &count)) return r;
    std::vector<std::string> blocks;
    for (int n = 0; count < 0 || n < count; ++n) {
      char *data = nullptr;
      int len = 0;
      if (s_read_block(sock_, &data, &len) != wire_ok) return r;
      bool marker = is_end_of_list(data, len);
      std::string raw(data, static_cast<size_t>(len));
      free(data);
      if (marker) break;
      size_t nul = raw.find('\0');
      blocks.push_back(nul == std::string::npos ? raw : raw.substr(0, nul));
    }
    if (skip_progress && code == 84) {
      ++r.progress;
      continue;
    }
    r.ok = true;
    r.code = code;
    r.count = count;
    r.blocks = blocks;
    return r;
  }
}

raw_reply raw_client::call(int code, const std::vector<std::string> &blocks, bool list) {
  if (!send(code, blocks, list)) return raw_reply();
  return read();
}

bool raw_client::closed_by_server(int timeout_s) {
  char c;
  // A closed connection reads as broken (or reset, when the server left
  // unread bytes behind); a live one times out with nothing read.
  return sock_->read(&c, 1, 1, timeout_s) < 0;
}

bool raw_client::handshake() {
  raw_reply a = call(211, {"4"});
  if (!a.ok || a.code != 8) return false;
  raw_reply b = call(265, {"211"});
  return b.ok && b.code == 8;
}

int raw_client::open_application(const std::string &name) {
  raw_reply r = call(3, {name, "0"});
  if (!r.ok || r.code != 43 || r.blocks.size() != 1) return -2;
  return atoi(r.blocks[0].c_str());
}

raw_reply raw_client::login(int app, const std::string &user, const std::string &password) {
  return call(167, {std::to_string(app), user, scramble(password)});
}

int raw_client::form(int app, const std::string &name) {
  raw_reply r = call(75, {std::to_string(app), name});
  if (!r.ok || r.code != 43 || r.blocks.size() != 1) return -2;
  return atoi(r.blocks[0].c_str());
}

int raw_client::new_set(int app) {
  raw_reply r = call(109, {std::to_string(app)});
  if (!r.ok || r.code != 43 || r.blocks.size() != 1) return -1;
  return atoi(r.blocks[0].c_str());
}

int raw_client::search(int app, const std::string &form_name,
                       const std::vector<std::string> &items, raw_reply *search) {
  int form_id = form(app, form_name);
  if (form_id < 0) return -1;
  int set = new_set(app);
  if (set < 0) return -1;
  raw_reply b = call(47, {std::to_string(app), std::to_string(set), std::to_string(form_id)});
  if (!b.ok || b.code != 8) return -1;
  std::vector<std::string> blocks = {std::to_string(app), std::to_string(form_id),
                                     std::to_string(set), "0", "0", "0", "-1", "0"};
  blocks.insert(blocks.end(), items.begin(), items.end());
  raw_reply r = call(54, blocks, true);
  if (search != nullptr) *search = r;
  if (!r.ok || r.code != 8) return -1;
  return set;
}

int raw_client::start(const std::string &app, const std::string &user,
                      const std::string &password) {
  if (!handshake()) return -1;
  int id = open_application(app);
  if (id < 0) return -1;
  raw_reply r = login(id, user, password);
  return r.ok && r.code == 8 ? id : -1;
}

raw_reply raw_client::move(int app, int set, int position) {
  return call(86, {std::to_string(app), std::to_string(set), std::to_string(position)});
}

raw_reply raw_client::get(int app, int set, const std::string &field) {
  return call(56, {std::to_string(app), std::to_string(set), "0", field});
}

raw_reply raw_client::set_value(int app, int set, const std::string &field,
                                const std::string &value) {
  return call(48, {"1", std::to_string(app), std::to_string(set), field, value}, true);
}

raw_reply raw_client::commit(int app) { return call(58, {std::to_string(app)}); }

raw_reply raw_client::total(int app, int set) {
  return call(59, {std::to_string(app), std::to_string(set)});
}

}  // namespace talvortest
