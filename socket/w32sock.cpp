// Windows sockets: TCP/IPv4 over Winsock, and local connections between
// two processes over shared memory with events.
#include "w32sock.h"

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

namespace {

// First IPv4 address of host. Winsock keeps gethostbyname's result per
// thread, so concurrent connects do not share it.
int resolve_ipv4(const char *host, unsigned short port, sockaddr_in *sa) {
  hostent *h = gethostbyname(host);
  if (h == nullptr || h->h_addrtype != AF_INET || h->h_addr_list == nullptr ||
      h->h_addr_list[0] == nullptr)
    return 0;
  memset(sa, 0, sizeof(*sa));
  sa->sin_family = AF_INET;
  memcpy(&sa->sin_addr, h->h_addr_list[0], sizeof(sa->sin_addr));
  sa->sin_port = htons(port);
  return 1;
}

DWORD seconds_to_millis(time_t seconds) {
  if (seconds <= 0) return 0;
  if (seconds >= static_cast<time_t>((INFINITE - 1) / 1000)) return INFINITE - 1;
  return static_cast<DWORD>(seconds) * 1000;
}

// Waits until s is readable (or has a pending connection); timeout -1 waits
// without limit. 1 when it is, 0 on timeout, -1 on failure.
int wait_readable(SOCKET s, time_t timeout) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv;
  timeval *ptv = nullptr;
  if (timeout != -1) {
    tv.tv_sec = timeout < 0 ? 0 : (timeout > LONG_MAX ? LONG_MAX : static_cast<long>(timeout));
    tv.tv_usec = 0;
    ptv = &tv;
  }
  int rc = ::select(0, &set, nullptr, nullptr, ptv);
  if (rc == SOCKET_ERROR) return -1;
  return rc > 0 ? 1 : 0;
}

int set_nodelay(SOCKET s) {
  BOOL on = TRUE;
  return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof(on));
}

// Winsock moves at most INT_MAX bytes per call.
int chunk(size_t n) { return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

// The system's text of a Windows or Winsock error number, without the line
// break the system ends it with, copied with strncpy semantics.
void system_error_text(long code, char *buf, size_t buf_size) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           text, sizeof(text), nullptr);
  if (n == 0) {
    snprintf(text, sizeof(text), "unknown error code %u", static_cast<unsigned>(code));
  } else {
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
    text[n] = '\0';
  }
  strncpy(buf, text, buf_size);
}

char *copy_text(const char *text) { return text == nullptr ? nullptr : _strdup(text); }

}  // namespace

// ---- process-wide set-up ----

w32_socket_library::w32_socket_library() : alive_mutex(nullptr) {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
    fprintf(stderr, "Failed to initialize windows sockets: %d\n", WSAGetLastError());
  }
  alive_mutex = CreateMutexA(nullptr, TRUE, nullptr);
}

w32_socket_library::~w32_socket_library() { WSACleanup(); }

w32_socket_library w32sock_lib;

char *get_process_name() {
  static char name[256 + 16];
  char host[256];
  if (gethostname(host, sizeof(host)) != 0) host[0] = '\0';
  host[sizeof(host) - 1] = '\0';
  snprintf(name, sizeof(name), "%s:%x", host, static_cast<unsigned>(GetCurrentProcessId()));
  return name;
}

// ---- factories ----

namespace {

// A local connection serves addresses without a port, and this machine's
// own names in the any domain.
bool goes_local(const char *address, socket_t::socket_domain domain) {
  if (domain == socket_t::sock_local_domain) return true;
  if (domain != socket_t::sock_any_domain || address == nullptr) return false;
  const char *colon = strchr(address, ':');
  if (colon == nullptr) return true;
  size_t len = static_cast<size_t>(colon - address);
  if (len == 9 && strncmp(address, "localhost", 9) == 0) return true;
  char host[256];
  if (gethostname(host, sizeof(host)) != 0) return false;
  host[sizeof(host) - 1] = '\0';
  return strlen(host) == len && strncmp(address, host, len) == 0;
}

}  // namespace

socket_t *socket_t::connect(const char *address, socket_domain domain, long max_attempts,
                            time_t timeout) {
  // A failed connection is deleted here, so no half-made object reaches the
  // caller.
  if (goes_local(address, domain)) {
    w32_local_socket *s = new w32_local_socket(address);
    if (s->connect(max_attempts, timeout)) return s;
    delete s;
    return nullptr;
  }
  w32_socket *s = new w32_socket(address);
  if (s->connect(max_attempts, timeout)) return s;
  delete s;
  return nullptr;
}

socket_t *socket_t::create_local(const char *address, long listen_queue_size) {
  w32_local_socket *s = new w32_local_socket(address);
  s->open(listen_queue_size);
  return s;
}

socket_t *socket_t::create_global(const char *address, long listen_queue_size) {
  w32_socket *s = new w32_socket(address);
  s->open(listen_queue_size);
  return s;
}

// ==== w32_socket ====

w32_socket::w32_socket(const char *addr)
    : handle(INVALID_SOCKET), errcode(ok), address(copy_text(addr)) {}

w32_socket::w32_socket(SOCKET new_handle) : handle(new_handle), errcode(ok), address(nullptr) {
  set_state(ss_open);
}

w32_socket::~w32_socket() {
  discard_queue();
  close();
  free(address);
}

int w32_socket::connect(long max_attempts, time_t timeout) {
  char host[socket_max_host_length + 1];
  unsigned short port;
  sockaddr_in sin;
  if (!split_socket_address(address, host, &port) || !resolve_ipv4(host, port, &sin)) {
    errcode = bad_address;
    return 0;
  }
  for (;;) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
      errcode = WSAGetLastError();
      return 0;
    }
    if (::connect(s, reinterpret_cast<const sockaddr *>(&sin), sizeof(sin)) == 0) {
      if (set_nodelay(s) != 0) {
        errcode = WSAGetLastError();
        closesocket(s);
        return 0;
      }
      handle = s;
      errcode = ok;
      set_state(ss_open);
      return 1;
    }
    errcode = WSAGetLastError();
    closesocket(s);
    if (errcode != WSAECONNREFUSED) return 0;
    if (--max_attempts <= 0) {
      errcode = connection_failed;
      return 0;
    }
    Sleep(seconds_to_millis(timeout));
  }
}

int w32_socket::open(long listen_queue_size) {
  char host[socket_max_host_length + 1];
  unsigned short port;
  if (!split_socket_address(address, host, &port)) {
    errcode = bad_address;
    return 0;
  }
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    errcode = WSAGetLastError();
    return 0;
  }
  sockaddr_in sin;
  memset(&sin, 0, sizeof(sin));
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_ANY);
  sin.sin_port = htons(port);
  int backlog = listen_queue_size > INT_MAX ? INT_MAX : static_cast<int>(listen_queue_size);
  if (::bind(s, reinterpret_cast<const sockaddr *>(&sin), sizeof(sin)) != 0 ||
      ::listen(s, backlog) != 0) {
    errcode = WSAGetLastError();
    closesocket(s);
    return 0;
  }
  handle = s;
  errcode = ok;
  set_state(ss_open);
  return 1;
}

long w32_socket::buffered_write(const void *buf, size_t size) { return queue_bytes(buf, size); }

void w32_socket::buffered_flush() { flush_queue(); }

long w32_socket::read(void *buf, size_t min_size, size_t max_size, time_t timeout) {
  if (get_state() != ss_open) {
    errcode = not_opened;
    return -1;
  }
  if (min_size > max_size) min_size = max_size;
  size_t n = 0;
  char *p = static_cast<char *>(buf);
  while (n < max_size) {
    if (timeout != -1) {
      int rc = wait_readable(handle, timeout);
      if (rc < 0) {
        errcode = WSAGetLastError();
        return -1;
      }
      if (rc == 0) return static_cast<long>(n);
    }
    int got = ::recv(handle, p + n, chunk(max_size - n), 0);
    if (got == SOCKET_ERROR) {
      errcode = WSAGetLastError();
      return -1;
    }
    if (got == 0) {
      errcode = broken_pipe;
      return -1;
    }
    n += static_cast<size_t>(got);
    if (n >= min_size) break;
  }
  return static_cast<long>(n);
}

int w32_socket::read(void *buf, size_t size) {
  if (get_state() != ss_open) {
    errcode = not_opened;
    return 0;
  }
  char *p = static_cast<char *>(buf);
  size_t done = 0;
  while (done < size) {
    int got = ::recv(handle, p + done, chunk(size - done), 0);
    if (got == SOCKET_ERROR) {
      errcode = WSAGetLastError();
      return 0;
    }
    if (got == 0) {
      errcode = broken_pipe;
      return 0;
    }
    done += static_cast<size_t>(got);
  }
  return 1;
}

int w32_socket::write(const void *buf, size_t size) {
  if (get_state() != ss_open) {
    errcode = not_opened;
    return 0;
  }
  const char *p = static_cast<const char *>(buf);
  size_t done = 0;
  // One pass at least: a write of no bytes reports a broken connection.
  do {
    int put = ::send(handle, p + done, chunk(size - done), 0);
    if (put == SOCKET_ERROR) {
      errcode = WSAGetLastError();
      return 0;
    }
    if (put == 0) {
      errcode = broken_pipe;
      return 0;
    }
    done += static_cast<size_t>(put);
  } while (done < size);
  return 1;
}

int w32_socket::is_ok() { return errcode == ok; }

long w32_socket::get_err() { return errcode; }

void w32_socket::get_error_text(char *buf, size_t buf_size) {
  if (buf == nullptr || buf_size == 0) return;
  const char *text = nullptr;
  switch (errcode) {
    case ok:
      text = "ok";
      break;
    case not_opened:
      text = "socket not opened";
      break;
    case bad_address:
      text = "bad address";
      break;
    case connection_failed:
      text = "exceed limit of attempts of connection to server";
      break;
    case broken_pipe:
      text = "connection is broken";
      break;
    case invalid_access_mode:
      text = "invalid access mode";
      break;
    default:
      fputs("system error occurred\n", stdout);
      fflush(stdout);
      system_error_text(errcode, buf, buf_size);
      return;
  }
  strncpy(buf, text, buf_size);
}

long w32_socket::MyGetActual() { return static_cast<long>(handle); }

socket_t *w32_socket::accept(long timeout) {
  if (get_state() != ss_open) {
    errcode = not_opened;
    return nullptr;
  }
  // Accepted connections take the option over from the listener.
  if (set_nodelay(handle) != 0) {
    errcode = WSAGetLastError();
    close();
    return nullptr;
  }
  if (timeout != -1) {
    int rc = wait_readable(handle, timeout);
    if (rc < 0) {
      errcode = WSAGetLastError();
      return nullptr;
    }
    if (rc == 0) return nullptr;
  }
  SOCKET s = ::accept(handle, nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    errcode = WSAGetLastError();
    return nullptr;
  }
  if (get_state() != ss_open) {
    // Cancelled meanwhile: this is most likely the waking connection.
    closesocket(s);
    errcode = not_opened;
    return nullptr;
  }
  linger l;
  l.l_onoff = 1;
  l.l_linger = 10;
  if (setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&l), sizeof(l)) != 0) {
    errcode = invalid_access_mode;
    closesocket(s);
    return nullptr;
  }
  errcode = ok;
  return new w32_socket(s);
}

int w32_socket::cancel_accept() {
  // The waking connection has to reach the listener while it still
  // listens, so it is made before the socket is closed; the address
  // actually bound is used, as the configured one may name port 0.
  set_state(ss_shutdown);
  sockaddr_in sin;
  int len = sizeof(sin);
  if (handle != INVALID_SOCKET &&
      getsockname(handle, reinterpret_cast<sockaddr *>(&sin), &len) == 0 &&
      sin.sin_family == AF_INET) {
    char self[32];
    snprintf(self, sizeof(self), "127.0.0.1:%u", static_cast<unsigned>(ntohs(sin.sin_port)));
    delete socket_t::connect(self, sock_global_domain, 1, 0);
  }
  return close();
}

int w32_socket::shutdown() {
  if (get_state() == ss_open) {
    set_state(ss_shutdown);
    if (::shutdown(handle, SD_BOTH) != 0) {
      errcode = WSAGetLastError();
      return 0;
    }
  }
  errcode = ok;
  return 1;
}

int w32_socket::close() {
  if (get_state() != ss_close) {
    set_state(ss_close);
    if (handle != INVALID_SOCKET) {
      int rc = closesocket(handle);
      handle = INVALID_SOCKET;
      if (rc != 0) {
        errcode = WSAGetLastError();
        return 0;
      }
    }
    errcode = ok;
    return 1;
  }
  discard_queue();
  return 1;
}

// ==== w32_local_socket ====
//
// Each side sets its waiting flag before it looks at the positions, and the
// other side tests that flag after it has moved its own position, so a
// wake-up is never lost; a surplus one only makes the next wait return at
// once. The flags and positions are read and written with full barriers
// because the two processes run on different cores.

namespace {

LONG load32(volatile LONG *p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }
void store32(volatile LONG *p, LONG v) { __atomic_store_n(p, v, __ATOMIC_SEQ_CST); }

const LONG ring = w32_local_channel::ring_size;

// The words of a channel's data used by the hand-over; handle values of
// Windows fit 32 bits and are sign-extended back.
volatile LONG *hand_over_word(w32_local_channel *c, int i) {
  return reinterpret_cast<volatile LONG *>(c->data) + i;
}
LONG handle_word(HANDLE h) { return static_cast<LONG>(reinterpret_cast<intptr_t>(h)); }
HANDLE word_handle(LONG w) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(w)); }

// The name of a listener's object: the address and a suffix.
bool object_name(char *out, size_t size, const char *address, const char *suffix) {
  int n = snprintf(out, size, "%s.%s", address, suffix);
  return n > 0 && static_cast<size_t>(n) < size;
}

DWORD millis_left(time_t timeout, ULONGLONG start) {
  if (timeout == -1) return INFINITE;
  ULONGLONG total = static_cast<ULONGLONG>(seconds_to_millis(timeout));
  ULONGLONG spent = GetTickCount64() - start;
  return spent >= total ? 0 : static_cast<DWORD>(total - spent);
}

}  // namespace

w32_local_socket::w32_local_socket(const char *address)
    : in_channel(nullptr),
      out_channel(nullptr),
      events{nullptr, nullptr, nullptr, nullptr},
      peer_alive_mutex(nullptr),
      mapping(nullptr),
      errcode(not_opened),
      name(copy_text(address)) {}

w32_local_socket::w32_local_socket()
    : in_channel(nullptr),
      out_channel(nullptr),
      events{nullptr, nullptr, nullptr, nullptr},
      peer_alive_mutex(nullptr),
      mapping(nullptr),
      errcode(ok),
      name(nullptr) {
  for (HANDLE &e : events) {
    e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (e == nullptr) {
      errcode = static_cast<long>(GetLastError());
      close_handles();
      return;
    }
  }
  mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, area_size, nullptr);
  if (mapping != nullptr) map_area(true);
  if (in_channel == nullptr) {
    errcode = static_cast<long>(GetLastError());
    close_handles();
    return;
  }
  set_state(ss_open);
}

w32_local_socket::~w32_local_socket() {
  close();
  discard_queue();
  free(name);
}

// Maps the area; the listener's half comes first (it reads the first half),
// the connecting side's second.
void w32_local_socket::map_area(bool listener_half_first) {
  char *base = static_cast<char *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, area_size));
  if (base == nullptr) return;
  w32_local_channel *first = reinterpret_cast<w32_local_channel *>(base);
  w32_local_channel *second = reinterpret_cast<w32_local_channel *>(base + area_size / 2);
  in_channel = listener_half_first ? first : second;
  out_channel = listener_half_first ? second : first;
}

void w32_local_socket::close_handles() {
  if (peer_alive_mutex != nullptr) CloseHandle(peer_alive_mutex);
  peer_alive_mutex = nullptr;
  for (HANDLE &e : events) {
    if (e != nullptr) CloseHandle(e);
    e = nullptr;
  }
  if (in_channel != nullptr) UnmapViewOfFile(in_channel < out_channel ? in_channel : out_channel);
  in_channel = out_channel = nullptr;
  if (mapping != nullptr) CloseHandle(mapping);
  mapping = nullptr;
}

int w32_local_socket::open(long /*listen_queue_size*/) {
  char object[MAX_PATH];
  if (name == nullptr) {
    errcode = ERROR_INVALID_PARAMETER;
    return 0;
  }
  for (int i = 0; i < 4; i++) {
    char digit[2] = {static_cast<char>('0' + i), '\0'};
    if (!object_name(object, sizeof(object), name, digit)) {
      errcode = ERROR_INVALID_PARAMETER;
      close_handles();
      return 0;
    }
    events[i] = CreateEventA(nullptr, FALSE, FALSE, object);
    if (events[i] == nullptr) {
      errcode = static_cast<long>(GetLastError());
      close_handles();
      return 0;
    }
    // A leftover of an earlier listener may still be signalled.
    if (GetLastError() == ERROR_ALREADY_EXISTS) WaitForSingleObject(events[i], 0);
  }
  if (!object_name(object, sizeof(object), name, "shr")) {
    errcode = ERROR_INVALID_PARAMETER;
    close_handles();
    return 0;
  }
  mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, area_size, object);
  if (mapping != nullptr) map_area(true);
  if (in_channel == nullptr) {
    errcode = static_cast<long>(GetLastError());
    close_handles();
    return 0;
  }
  for (w32_local_channel *c : {in_channel, out_channel}) {
    store32(&c->write_pos, 0);
    store32(&c->read_pos, 0);
  }
  errcode = ok;
  set_state(ss_open);
  return 1;
}

int w32_local_socket::wait_for_peer(HANDLE event, DWORD millis, bool *timed_out) {
  if (timed_out != nullptr) *timed_out = false;
  HANDLE what[2] = {event, peer_alive_mutex};
  DWORD n = peer_alive_mutex != nullptr ? 2 : 1;
  DWORD rc = WaitForMultipleObjects(n, what, FALSE, millis);
  if (rc == WAIT_OBJECT_0) return 1;
  if (rc == WAIT_OBJECT_0 + 1 || rc == WAIT_ABANDONED_0 + 1) {
    // The peer's thread has ended: its mutex came to us.
    ReleaseMutex(peer_alive_mutex);
    errcode = broken_pipe;
    return 0;
  }
  if (rc == WAIT_TIMEOUT && timed_out != nullptr) {
    *timed_out = true;
    return 0;
  }
  errcode = static_cast<long>(GetLastError());
  return 0;
}

int w32_local_socket::connect(long max_attempts, time_t timeout) {
  char object[MAX_PATH];
  if (name == nullptr) {
    errcode = ERROR_INVALID_PARAMETER;
    return 0;
  }
  // 1: the listener's events crosswise, and its named area.
  for (int i = 0; i < 4; i++) {
    char digit[2] = {static_cast<char>('0' + (i + 2) % 4), '\0'};
    if (!object_name(object, sizeof(object), name, digit)) {
      errcode = ERROR_INVALID_PARAMETER;
      close_handles();
      return 0;
    }
    events[i] = OpenEventA(EVENT_ALL_ACCESS, FALSE, object);
    if (events[i] == nullptr) {
      errcode = static_cast<long>(GetLastError());
      close_handles();
      return 0;
    }
  }
  object_name(object, sizeof(object), name, "shr");
  mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, object);
  if (mapping != nullptr) map_area(false);
  if (in_channel == nullptr) {
    errcode = static_cast<long>(GetLastError());
    close_handles();
    return 0;
  }
  set_state(ss_shutdown);

  // 2: a listener in accept lets one connecting side through.
  time_t limit = max_attempts > 0 && timeout > 0 ? static_cast<time_t>(max_attempts) * timeout : 0;
  DWORD rc = WaitForSingleObject(events[3], seconds_to_millis(limit));
  if (rc != WAIT_OBJECT_0) {
    errcode = rc == WAIT_TIMEOUT ? static_cast<long>(timeout_expired) : static_cast<long>(GetLastError());
    close_handles();
    set_state(ss_close);
    return 0;
  }

  // 3: exchange the processes' alive mutexes.
  HANDLE listener_mutex = word_handle(load32(hand_over_word(in_channel, 0)));
  DWORD listener_pid = static_cast<DWORD>(load32(hand_over_word(in_channel, 1)));
  HANDLE listener = OpenProcess(PROCESS_DUP_HANDLE, FALSE, listener_pid);
  HANDLE mine_there = nullptr;
  if (listener == nullptr ||
      !DuplicateHandle(listener, listener_mutex, GetCurrentProcess(), &peer_alive_mutex, 0, FALSE,
                       DUPLICATE_SAME_ACCESS) ||
      !DuplicateHandle(GetCurrentProcess(), w32sock_lib.alive_mutex, listener, &mine_there, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    errcode = static_cast<long>(GetLastError());
    if (listener != nullptr) CloseHandle(listener);
    close_handles();
    set_state(ss_close);
    return 0;
  }
  store32(hand_over_word(out_channel, 0), handle_word(mine_there));
  SetEvent(events[2]);

  // 4 and 5: the handles of the private socket, valid in the listener.
  HANDLE theirs[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
  if (!wait_for_peer(events[0], INFINITE, nullptr)) {
    CloseHandle(listener);
    close_handles();
    set_state(ss_close);
    return 0;
  }
  for (int i = 0; i < 5; i++) theirs[i] = word_handle(load32(hand_over_word(in_channel, i)));
  SetEvent(events[2]);
  HANDLE peer_mutex = peer_alive_mutex;
  peer_alive_mutex = nullptr;
  close_handles();
  peer_alive_mutex = peer_mutex;

  // 6: the private socket's handles in this process.
  HANDLE *mine[5] = {&events[0], &events[1], &events[2], &events[3], &mapping};
  for (int i = 0; i < 5; i++) {
    if (!DuplicateHandle(listener, theirs[i], GetCurrentProcess(), mine[i], 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      errcode = static_cast<long>(GetLastError());
      CloseHandle(listener);
      close_handles();
      set_state(ss_close);
      return 0;
    }
  }
  CloseHandle(listener);
  map_area(false);
  if (in_channel == nullptr) {
    errcode = static_cast<long>(GetLastError());
    close_handles();
    set_state(ss_close);
    return 0;
  }
  errcode = ok;
  set_state(ss_open);
  return 1;
}

socket_t *w32_local_socket::accept(long timeout) {
  if (get_state() != ss_open) {
    errcode = not_opened;
    return nullptr;
  }
  // Publish who we are and let one connecting side through.
  store32(hand_over_word(out_channel, 0), handle_word(w32sock_lib.alive_mutex));
  store32(hand_over_word(out_channel, 1), static_cast<LONG>(GetCurrentProcessId()));
  SetEvent(events[1]);

  DWORD rc = WaitForSingleObject(events[0], timeout == -1 ? INFINITE : seconds_to_millis(timeout));
  const long wait_error = rc == WAIT_FAILED ? static_cast<long>(GetLastError()) : 0;
  const bool cancelled = get_state() != ss_open;
  if (rc != WAIT_OBJECT_0 || cancelled) {
    // Take the permit back. A connecting side that has already taken it is
    // inside the hand-over: an open listener gives it moments to answer, a
    // cancelled one turns it away.
    const bool taken = WaitForSingleObject(events[1], 0) != WAIT_OBJECT_0;
    const bool answered = taken && !cancelled && WaitForSingleObject(events[0], 5000) == WAIT_OBJECT_0;
    if (!answered) {
      if (taken) {
        // Handles of 0 make its duplication fail, so it does not wait for
        // a listener that has gone on.
        for (int i = 0; i < 5; i++) store32(hand_over_word(out_channel, i), 0);
        SetEvent(events[2]);
      }
      if (cancelled) errcode = not_opened;
      else if (taken) errcode = timeout_expired;
      else if (rc != WAIT_TIMEOUT) errcode = wait_error;
      return nullptr;
    }
  }

  // The connecting side's alive mutex, already duplicated into this process.
  HANDLE peer_mutex = word_handle(load32(hand_over_word(in_channel, 0)));
  w32_local_socket *s = new w32_local_socket();
  if (!s->is_ok()) {
    errcode = s->errcode;
    delete s;
    // Handles of 0 make the connecting side's duplication fail, so it does
    // not wait for us.
    for (int i = 0; i < 5; i++) store32(hand_over_word(out_channel, i), 0);
    SetEvent(events[2]);
    CloseHandle(peer_mutex);
    return nullptr;
  }
  s->peer_alive_mutex = peer_mutex;
  for (int i = 0; i < 4; i++) store32(hand_over_word(out_channel, (i + 2) % 4), handle_word(s->events[i]));
  store32(hand_over_word(out_channel, 4), handle_word(s->mapping));
  SetEvent(events[2]);

  // The connecting side confirms it has the handles (or it has died).
  HANDLE what[2] = {events[0], s->peer_alive_mutex};
  rc = WaitForMultipleObjects(2, what, FALSE, INFINITE);
  if (rc != WAIT_OBJECT_0) {
    if (rc == WAIT_OBJECT_0 + 1 || rc == WAIT_ABANDONED_0 + 1) {
      ReleaseMutex(s->peer_alive_mutex);
      errcode = broken_pipe;
    } else {
      errcode = static_cast<long>(GetLastError());
    }
    delete s;
    return nullptr;
  }
  errcode = ok;
  return s;
}

int w32_local_socket::cancel_accept() {
  set_state(ss_shutdown);
  if (events[0] != nullptr) SetEvent(events[0]);
  if (events[3] != nullptr) SetEvent(events[3]);
  return 1;
}

int w32_local_socket::shutdown() {
  if (get_state() == ss_open) {
    set_state(ss_shutdown);
    SetEvent(events[0]);
    SetEvent(events[3]);
  }
  discard_queue();
  return 1;
}

int w32_local_socket::close() {
  if (get_state() != ss_close) {
    set_state(ss_close);
    close_handles();
    errcode = not_opened;
    return 1;
  }
  discard_queue();
  return 1;
}

long w32_local_socket::buffered_write(const void *buf, size_t size) { return queue_bytes(buf, size); }

void w32_local_socket::buffered_flush() { flush_queue(); }

long w32_local_socket::read(void *buf, size_t min_size, size_t max_size, time_t timeout) {
  if (min_size > max_size) min_size = max_size;
  char *p = static_cast<char *>(buf);
  size_t n = 0;
  const ULONGLONG start = GetTickCount64();
  while (get_state() == ss_open) {
    store32(&in_channel->reader_waiting, 1);
    LONG w = load32(&in_channel->write_pos);
    LONG r = load32(&in_channel->read_pos);
    LONG avail = w >= r ? w - r : ring - r;
    if (avail > 0) {
      store32(&in_channel->reader_waiting, 0);
      size_t take = static_cast<size_t>(avail) < max_size - n ? static_cast<size_t>(avail) : max_size - n;
      memcpy(p + n, in_channel->data + r, take);
      n += take;
      r += static_cast<LONG>(take);
      store32(&in_channel->read_pos, r == ring ? 0 : r);
      if (load32(&in_channel->writer_waiting) == 1) SetEvent(events[1]);
      if (n >= min_size) return static_cast<long>(n);
      continue;
    }
    bool timed_out = false;
    int got = wait_for_peer(events[0], millis_left(timeout, start), &timed_out);
    store32(&in_channel->reader_waiting, 0);
    if (timed_out) return static_cast<long>(n);
    if (!got) return -1;
  }
  errcode = not_opened;
  return -1;
}

int w32_local_socket::read(void *buf, size_t size) {
  char *p = static_cast<char *>(buf);
  size_t done = 0;
  while (get_state() == ss_open) {
    if (done == size) return 1;
    store32(&in_channel->reader_waiting, 1);
    LONG w = load32(&in_channel->write_pos);
    LONG r = load32(&in_channel->read_pos);
    LONG avail = w >= r ? w - r : ring - r;
    if (avail > 0) {
      store32(&in_channel->reader_waiting, 0);
      size_t take = static_cast<size_t>(avail) < size - done ? static_cast<size_t>(avail) : size - done;
      memcpy(p + done, in_channel->data + r, take);
      done += take;
      r += static_cast<LONG>(take);
      store32(&in_channel->read_pos, r == ring ? 0 : r);
      if (load32(&in_channel->writer_waiting) == 1) SetEvent(events[1]);
      continue;
    }
    int got = wait_for_peer(events[0], INFINITE, nullptr);
    store32(&in_channel->reader_waiting, 0);
    if (!got) return 0;
  }
  errcode = not_opened;
  return 0;
}

int w32_local_socket::write(const void *buf, size_t size) {
  const char *p = static_cast<const char *>(buf);
  size_t done = 0;
  while (get_state() == ss_open) {
    if (done == size) return 1;
    store32(&out_channel->writer_waiting, 1);
    LONG w = load32(&out_channel->write_pos);
    LONG r = load32(&out_channel->read_pos);
    LONG space = r > w ? r - w - 1 : ring - w - (r == 0 ? 1 : 0);
    if (space > 0) {
      store32(&out_channel->writer_waiting, 0);
      size_t put = static_cast<size_t>(space) < size - done ? static_cast<size_t>(space) : size - done;
      memcpy(out_channel->data + w, p + done, put);
      done += put;
      w += static_cast<LONG>(put);
      store32(&out_channel->write_pos, w == ring ? 0 : w);
      if (load32(&out_channel->reader_waiting) == 1) SetEvent(events[2]);
      continue;
    }
    int got = wait_for_peer(events[3], INFINITE, nullptr);
    store32(&out_channel->writer_waiting, 0);
    if (!got) return 0;
  }
  errcode = not_opened;
  return 0;
}

int w32_local_socket::is_ok() { return errcode == ok; }

long w32_local_socket::get_err() { return errcode; }

void w32_local_socket::get_error_text(char *buf, size_t buf_size) {
  if (buf == nullptr || buf_size == 0) return;
  const char *text = nullptr;
  switch (errcode) {
    case ok:
      text = "ok";
      break;
    case not_opened:
      text = "socket not opened";
      break;
    case broken_pipe:
      text = "connection is broken";
      break;
    case timeout_expired:
      text = "connection timeout expired";
      break;
    default:
      system_error_text(errcode, buf, buf_size);
      return;
  }
  strncpy(buf, text, buf_size);
}

long w32_local_socket::MyGetActual() { return 0; }
