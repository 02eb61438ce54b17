// Sorting a result set on the server by a list of field:direction items.
#include <stdlib.h>
#include <string.h>

#include "api.h"
#include "request.h"
#include "stringarray.h"

namespace {

enum {
  max_sort_items = 4096,
  max_sort_item_length = 2046  // what the item buffer holds besides its NUL
};

// 1 when piece is a sort item: it has a ':' and the number after the first
// one reads (as atoi) as 1 or -1.
int is_sort_item(const char *piece) {
  const char *colon = strchr(piece, ':');
  if (!colon) return 0;
  // Read as atoi reads it, but a number beyond int stays beyond it instead
  // of wrapping round to -1 or 1 on a 64-bit long.
  long long direction = strtoll(colon + 1, nullptr, 10);
  return direction == 1 || direction == -1;
}

}  // namespace

// Sorts the set by the items of sort_text (split on the list separator);
// outcome in global_error (13 when no piece is a sort item).
void TalvorInnerSort(int handle, char *sort_text) {
  global_error = talvor_ok;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry) return;

  StringArray pieces(sort_text, nullptr);
  char **items = (char **)malloc(sizeof(char *) * max_sort_items);
  if (!items) {
    global_error = talvor_err_memory;
    return;
  }
  int count = 0;
  for (int i = 1; i <= pieces.Count(); ++i) {
    char *piece = pieces.Access(i);
    if (piece && count < max_sort_items && is_sort_item(piece)) {
      if (strlen(piece) > max_sort_item_length) piece[max_sort_item_length] = '\0';
      items[count++] = piece;
    } else {
      free(piece);
    }
  }

  if (count == 0) {
    global_error = talvor_err_no_sort_item;
  } else if (require_connection()) {
    send_header(command_sort, -1);
    send_number(entry->application_id);
    send_number(entry->set_id);
    send_number(count);
    for (int i = 0; i < count; ++i) send_text(items[i]);
    send_end_of_list();
    int unused = 0;
    if (read_reply(reply_ok)) read_number(&unused);
  }

  for (int i = 0; i < count; ++i) free(items[i]);
  free(items);
}
