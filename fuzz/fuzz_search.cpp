// Search-text cutting, reached through the search call itself: the channel
// is opened without a communications thread, the replies up to the search
// command are waiting in it beforehand, and the items the search sends are
// read back from the command pipe and checked against the text.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "api.h"
#include "channel.h"
#include "channel_io.h"
#include "comm_thread.h"
#include "wire.h"

namespace {

void check(bool condition) {
  if (!condition) abort();
}

// Well under the pipe's capacity: the search writes every item before
// anything reads the command pipe.
const size_t max_text = 4096;

void put_reply(int code, const char *number) {
  check(channel_write_header(server_write_fp, &hServerWritePipeMutex, 0, code, number ? 1 : 0) == 0);
  if (number)
    check(channel_write_block(server_write_fp, &hServerWritePipeMutex, number,
                              static_cast<int>(strlen(number)) + 1, 1) >= 0);
}

// Reads one command and its blocks (an open list up to its marker).
int take_command(std::vector<std::string> *blocks) {
  int sockref = 0, command = 0, count = 0;
  check(channel_read_header(server_read_fp, &hServerReadPipeMutex, &sockref, &command, &count) == 0);
  blocks->clear();
  for (int i = 0; count < 0 || i < count; ++i) {
    char *data = nullptr;
    int len = 0;
    check(channel_read_block(server_read_fp, &hServerReadPipeMutex, &data, &len) == wire_ok);
    std::string block(data ? data : "", static_cast<size_t>(len));
    free(data);
    if (count < 0 && is_end_of_list(block.data(), len)) break;
    blocks->push_back(block);
  }
  return command;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  check(start_communications() == 1);
  active_com = 1;  // stands in for the thread: the core only asks whether one serves
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_text) return 0;
  std::string text(reinterpret_cast<const char *>(data), size);
  text = text.c_str();  // a C text ends at its first NUL
  // A text with an item that is exactly the END_OF_LIST text is refused
  // before anything is sent (code 19, tested in the ordinary suite); this
  // target, which scripts the replies of a search that goes ahead, leaves
  // texts with the marker to that test.
  if (text.find(END_OF_LIST) != std::string::npos) return 0;

  put_reply(43, "5");   // application opened
  put_reply(8, nullptr);  // logged in
  put_reply(43, "7");   // form found
  put_reply(43, "9");   // set allocated
  put_reply(8, nullptr);  // set bound
  put_reply(0, nullptr);  // the search itself is refused
  int handle = TalvorInnerSearch(const_cast<char *>("app"), const_cast<char *>("form"), 0, 0,
                                 &text[0], const_cast<char *>("u"), const_cast<char *>("p"));
  check(handle == -1);

  std::vector<std::string> blocks;
  const int expected[] = {3, 167, 75, 109, 47};
  for (int code : expected) check(take_command(&blocks) == code);
  check(take_command(&blocks) == 54);
  // Eight numbers, then the items, each a text with its NUL.
  check(blocks.size() >= 8);
  std::string joined;
  for (size_t i = 8; i < blocks.size(); ++i) {
    const std::string &item = blocks[i];
    check(!item.empty() && item.back() == '\0');
    std::string t = item.substr(0, item.size() - 1);
    check(t.find('\0') == std::string::npos);
    if (i > 8) joined += '%';
    joined += t;
  }
  // Cutting only turns separators into ends of items, and drops one
  // separator at the very start: the items joined give back the text.
  std::string expected_text = (!text.empty() && text[0] == '%') ? text.substr(1) : text;
  check(joined == expected_text);
  return 0;
}
