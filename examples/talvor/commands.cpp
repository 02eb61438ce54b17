#include "commands.h"

#include <errno.h>
#include <stdlib.h>

#include <map>

#include <talvor/api.h>
#include "table.h"

namespace {

// A command's words after its name: positional arguments and --options.
struct arguments {
  std::vector<std::string> args;
  std::map<std::string, std::string> options;  // flags hold ""

  bool has(const std::string &name) const { return options.count(name) != 0; }
};

struct command {
  const char *name;
  int min_args;
  int max_args;
  // Options it takes: "fields=" takes a value, "read-only" is a flag.
  std::vector<std::string> options;
  const char *usage;
  const char *help;
  bool (*run)(session &s, const arguments &a);
};

// A whole decimal int. True with *out set.
bool parse_int(const std::string &text, long lo, long hi, long *out) {
  if (text.empty()) return false;
  errno = 0;
  char *end = nullptr;
  long v = strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

std::vector<std::string> split_fields(const std::string &list) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string f = list.substr(start, comma - start);
    if (!f.empty()) fields.push_back(f);
    start = comma + 1;
  }
  return fields;
}

// Shows the table of a set when fields were asked for (or are remembered).
bool show_records(const std::string &command, open_set &set, const arguments &a) {
  if (a.has("fields")) set.fields = split_fields(a.options.at("fields"));
  if (set.fields.empty()) return true;
  long limit = 0;
  if (a.has("limit") && !parse_int(a.options.at("limit"), 1, 1000000000, &limit))
    return refused(command, "--limit needs a positive number");
  return print_table(command, set.handle, set.fields, limit);
}

// Prints "set N: M records in LABEL" for an open set.
void announce(const open_set &set) {
  int total = TalvorTotal(set.handle);
  if (total >= 0) {
    printf("set %d: %d record%s in %s\n", set.handle, total, total == 1 ? "" : "s",
           set.label.c_str());
  } else {
    printf("set %d: %s\n", set.handle, set.label.c_str());
  }
}

// ---- the commands ----
// Each returns true when it did what it was asked; otherwise it has printed
// why on standard error.

bool do_search(session &s, const arguments &a) {
  const cli_options &o = s.options();
  if (o.app.empty()) return refused("search", "no application given (use -a APP)");
  c_text app(o.app), form(a.args[0]), text(a.args.size() > 1 ? a.args[1] : "");
  c_text user(o.user), password(o.password);
  // Without credentials the library logs in with empty ones.
  bool credentials = o.have_user && o.have_password;
  int h = TalvorSearch(app.get(), form.get(), 0, 0, text.get(), credentials ? user.get() : nullptr,
                       credentials ? password.get() : nullptr);
  if (h < 0) {
    int code = TalvorError();
    if (code == 0) return refused("search", "the server did not open application " + o.app);
    return failed("search", "cannot search " + a.args[0], code);
  }
  s.add(open_set{h, a.args[0], {}});
  announce(*s.current("search"));
  return show_records("search", *s.current("search"), a);
}

bool do_list(session &s, const arguments &a) {
  open_set *set = s.current("list");
  if (!set) return false;
  arguments b = a;
  if (!a.args.empty()) b.options["fields"] = a.args[0];
  if (!b.has("fields") && set->fields.empty())
    return refused("list", "which fields? (list A,B,C)");
  return show_records("list", *set, b);
}

bool do_count(session &s, const arguments &) {
  open_set *set = s.current("count");
  if (!set) return false;
  int total = TalvorTotal(set->handle);
  if (TalvorError() != 0) return failed("count", "cannot count the records", TalvorError());
  printf("%d\n", total);
  return true;
}

bool do_goto(session &s, const arguments &a) {
  open_set *set = s.current("goto");
  if (!set) return false;
  long n = 0;
  if (!parse_int(a.args[0], -2147483647L, 2147483647L, &n))
    return refused("goto", "not a record number: " + a.args[0]);
  TalvorSetCurrentPosition(set->handle, static_cast<int>(n));
  if (TalvorError() != 0) return failed("goto", "cannot move to record " + a.args[0], TalvorError());
  printf("record %ld%s\n", n, TalvorLocked(set->handle) > 0 ? " (locked by another session)" : "");
  return true;
}

bool do_pos(session &s, const arguments &) {
  open_set *set = s.current("pos");
  if (!set) return false;
  int pos = TalvorGetCurrentPosition(set->handle);
  if (TalvorError() != 0) return failed("pos", "cannot read the position", TalvorError());
  printf("%d\n", pos);  // 0: no current record
  return true;
}

bool do_locked(session &s, const arguments &) {
  open_set *set = s.current("locked");
  if (!set) return false;
  int locked = TalvorLocked(set->handle);
  if (TalvorError() != 0) return failed("locked", "cannot read the lock state", TalvorError());
  printf("%d\n", locked);
  return true;
}

bool do_get(session &s, const arguments &a) {
  open_set *set = s.current("get");
  if (!set) return false;
  for (const std::string &f : a.args) {
    c_text field(f);
    std::string value = take_text(TalvorGetValue(set->handle, field.get()));
    if (TalvorError() != 0) return failed("get", "cannot read " + f, TalvorError());
    // One field: the bare value, for scripts; several: one "field: value" each.
    if (a.args.size() == 1) {
      printf("%s\n", value.c_str());
    } else {
      printf("%s: %s\n", f.c_str(), value.c_str());
    }
  }
  return true;
}

bool do_set(session &s, const arguments &a) {
  open_set *set = s.current("set");
  if (!set) return false;
  c_text field(a.args[0]), value(a.args[1]);
  TalvorSetValue(set->handle, field.get(), value.get());
  if (TalvorError() != 0) return failed("set", "cannot set " + a.args[0], TalvorError());
  printf("%s set\n", a.args[0].c_str());
  return true;
}

// After a change of the set's records: where the set now stands.
void print_now_at(int handle) {
  int pos = TalvorGetCurrentPosition(handle);
  int total = TalvorTotal(handle);
  if (pos > 0 && total >= 0) {
    printf("now at record %d of %d\n", pos, total);
  } else if (total >= 0) {
    printf("no current record, %d left\n", total);
  }
}

bool do_create(session &s, const arguments &) {
  open_set *set = s.current("create");
  if (!set) return false;
  TalvorCreateNewRecord(set->handle);
  if (TalvorError() != 0) return failed("create", "cannot create a record", TalvorError());
  printf("record created; ");
  print_now_at(set->handle);
  return true;
}

bool do_remove(session &s, const arguments &) {
  open_set *set = s.current("remove");
  if (!set) return false;
  TalvorRemoveRecord(set->handle);
  if (TalvorError() != 0)
    return failed("remove", "cannot take the record out of the set", TalvorError());
  printf("record taken out of the set (not deleted); ");
  print_now_at(set->handle);
  return true;
}

bool do_delete(session &s, const arguments &) {
  open_set *set = s.current("delete");
  if (!set) return false;
  TalvorDeleteRecord(set->handle);
  if (TalvorError() != 0) return failed("delete", "cannot delete the record", TalvorError());
  printf("record deleted; ");
  print_now_at(set->handle);
  return true;
}

bool do_sort(session &s, const arguments &a) {
  open_set *set = s.current("sort");
  if (!set) return false;
  c_text spec(a.args[0]);
  TalvorSort(set->handle, spec.get());
  if (TalvorError() != 0) return failed("sort", "cannot sort by " + a.args[0], TalvorError());
  printf("sorted by %s\n", a.args[0].c_str());
  return show_records("sort", *set, a);
}

bool do_sub(session &s, const arguments &a) {
  open_set *set = s.current("sub");
  if (!set) return false;
  int from = set->handle;
  int at = TalvorGetCurrentPosition(from);
  c_text name(a.args[0]);
  int h = TalvorSubSet(from, name.get());
  if (h < 0) return failed("sub", "cannot open " + a.args[0], TalvorError());
  int code = TalvorError();  // the first move of the new set
  s.add(open_set{h, a.args[0] + " of record " + std::to_string(at) + " of set " + std::to_string(from), {}});
  if (code != 0) return failed("sub", "set " + std::to_string(h) + " opened but not usable", code);
  announce(*s.current("sub"));
  return show_records("sub", *s.current("sub"), a);
}

bool do_parent(session &s, const arguments &a) {
  open_set *set = s.current("parent");
  if (!set) return false;
  int from = set->handle;
  int h = TalvorParent(from);
  if (h < 0) return failed("parent", "cannot open the parent record", TalvorError());
  int code = TalvorError();
  s.add(open_set{h, "the parent of set " + std::to_string(from), {}});
  if (code != 0) return failed("parent", "set " + std::to_string(h) + " opened but not usable", code);
  announce(*s.current("parent"));
  return show_records("parent", *s.current("parent"), a);
}

bool do_reparent(session &s, const arguments &a) {
  open_set *set = s.current("reparent");
  if (!set) return false;
  long target = 0;
  if (!parse_int(a.args[1], -2147483647L, 2147483647L, &target))
    return refused("reparent", "not a set number: " + a.args[1]);
  // "-" stands for the set's own form, which the server takes as empty.
  c_text name(a.args[0] == "-" ? std::string() : a.args[0]);
  TalvorReparent(set->handle, name.get(), static_cast<int>(target));
  if (TalvorError() != 0) return failed("reparent", "cannot move the record", TalvorError());
  printf("record moved under the current record of set %ld\n", target);
  return true;
}

bool do_run(session &s, const arguments &a) {
  open_set *set = s.current("run");
  if (!set) return false;
  c_text program(a.args[0]), arg(a.args.size() > 1 ? a.args[1] : "");
  // Flag 0 lets the program change data and commits it; any other flag
  // asks for a run that changes nothing.
  int flag = a.has("read-only") ? 1 : 0;
  std::string answer = take_text(TalvorRunProgram(set->handle, program.get(), arg.get(), flag));
  if (TalvorError() != 0) return failed("run", "the program failed", TalvorError());
  fputs(answer.c_str(), stdout);
  if (!answer.empty() && answer.back() != '\n') fputc('\n', stdout);
  return true;
}

bool do_close(session &s, const arguments &) {
  open_set *set = s.current("close");
  if (!set) return false;
  int h = set->handle;
  TalvorClose(h);
  int code = TalvorError();
  // The code may come from the move back to the previous record that a
  // close makes first; the set is gone only when its slot is empty.
  if (code != 0) {
    TalvorTotal(h);
    if (TalvorError() != 11) return failed("close", "cannot close set " + std::to_string(h), code);
  }
  s.forget(h);
  printf("set %d closed\n", h);
  if (!s.sets().empty()) printf("current set: %d\n", s.sets().back().handle);
  return true;
}

bool do_use(session &s, const arguments &a) {
  long h = 0;
  if (!parse_int(a.args[0], 0, 2147483647L, &h) || !s.use(static_cast<int>(h)))
    return refused("use", "no open set " + a.args[0]);
  announce(s.sets().back());
  return true;
}

bool do_sets(session &s, const arguments &) {
  if (s.sets().empty()) printf("no open sets\n");
  for (const open_set &set : s.sets()) {
    printf("%s ", &set == &s.sets().back() ? "*" : " ");
    announce(set);
  }
  return true;
}

bool do_help(session &, const arguments &) {
  print_commands(stdout);
  return true;
}

const std::vector<command> &commands() {
  static const std::vector<command> table = {
      {"search", 1, 2, {"fields=", "limit="}, "search FORM [TEXT] [--fields A,B] [--limit N]",
       "find the records of FORM matching TEXT (items like city=Lyon, joined by %)", do_search},
      {"list", 0, 1, {"fields=", "limit="}, "list [A,B,C] [--limit N]",
       "show the records of the current set", do_list},
      {"count", 0, 0, {}, "count", "number of records in the current set", do_count},
      {"goto", 1, 1, {}, "goto N", "make record N (from 1) current", do_goto},
      {"pos", 0, 0, {}, "pos", "number of the current record (0: none)", do_pos},
      {"locked", 0, 0, {}, "locked", "1 when another session holds the current record", do_locked},
      {"get", 1, 1000, {}, "get FIELD [FIELD...]", "read fields of the current record", do_get},
      {"set", 2, 2, {}, "set FIELD VALUE", "write a field of the current record", do_set},
      {"create", 0, 0, {}, "create", "add a new record and make it current", do_create},
      {"remove", 0, 0, {}, "remove", "take the current record out of the set", do_remove},
      {"delete", 0, 0, {}, "delete", "delete the current record", do_delete},
      {"sort", 1, 1, {"fields=", "limit="}, "sort FIELD:1;FIELD:-1 [--fields A,B]",
       "sort the set (1 ascending, -1 descending)", do_sort},
      {"sub", 1, 1, {"fields=", "limit="}, "sub SUBFORM [--fields A,B]",
       "open the subrecords of the current record as a new set", do_sub},
      {"parent", 0, 0, {"fields=", "limit="}, "parent [--fields A,B]",
       "open the parent of the current record as a new set", do_parent},
      {"reparent", 2, 2, {}, "reparent SUBFORM|- SET",
       "move the current record under the current record of set SET", do_reparent},
      {"run", 1, 2, {"read-only"}, "run PROGRAM [ARG] [--read-only]",
       "run a server program on the current record and print its answer", do_run},
      {"close", 0, 0, {}, "close", "close the current set; the one before becomes current",
       do_close},
      {"use", 1, 1, {}, "use SET", "make an open set current", do_use},
      {"sets", 0, 0, {}, "sets", "list the open sets (* marks the current one)", do_sets},
      {"help", 0, 0, {}, "help", "this list", do_help},
  };
  return table;
}

// Splits words into arguments and the options cmd takes. False (with a
// message) on an unknown option, a missing value or a wrong count.
bool parse_arguments(const command &cmd, const std::vector<std::string> &words, arguments *a) {
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string &w = words[i];
    if (w.size() > 2 && w.compare(0, 2, "--") == 0) {
      std::string name = w.substr(2), value;
      size_t eq = name.find('=');
      bool inline_value = eq != std::string::npos;
      if (inline_value) {
        value = name.substr(eq + 1);
        name.erase(eq);
      }
      bool takes_value = false, known = false;
      for (const std::string &o : cmd.options) {
        if (o == name || o == name + "=") {
          known = true;
          takes_value = o.back() == '=';
        }
      }
      if (!known) return refused(cmd.name, "unknown option " + w + "; usage: " + cmd.usage);
      if (takes_value && !inline_value) {
        if (i + 1 >= words.size()) return refused(cmd.name, "--" + name + " needs a value");
        value = words[++i];
      }
      if (!takes_value && inline_value) return refused(cmd.name, "--" + name + " takes no value");
      a->options[name] = value;
    } else {
      a->args.push_back(w);
    }
  }
  int n = static_cast<int>(a->args.size());
  if (n < cmd.min_args || n > cmd.max_args) return refused(cmd.name, std::string("usage: ") + cmd.usage);
  return true;
}

}  // namespace

bool run_command(session &s, const std::vector<std::string> &words) {
  if (words.empty()) return true;
  for (const command &cmd : commands()) {
    if (words[0] != cmd.name) continue;
    arguments a;
    if (!parse_arguments(cmd, words, &a)) return false;
    bool local = words[0] == "help" || words[0] == "use" || words[0] == "sets";
    if (!local && !s.connect()) return false;
    return cmd.run(s, a);
  }
  return refused(words[0], "unknown command (try help)");
}

bool is_quit(const std::vector<std::string> &words) {
  return words.size() == 1 && (words[0] == "quit" || words[0] == "exit");
}

void print_commands(FILE *to) {
  fprintf(to, "Commands (they act on the current result set):\n");
  for (const command &cmd : commands()) fprintf(to, "  %-40s %s\n", cmd.usage, cmd.help);
  fprintf(to, "  %-40s %s\n", "quit", "end the session");
}
