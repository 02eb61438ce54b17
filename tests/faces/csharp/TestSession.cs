// A session against talvor-server on the demo application, through every
// method. What the records hold is asked of the server with SQL programs,
// beside the methods under test.

using System;
using System.Collections.Generic;
using System.Linq;

using api = talvor_csharp_api;

static class TestSession {
  static readonly List<int> handles = new List<int>();

  public static void Run(string server) {
    using (var demo = new DemoServer(server)) {
      if (!Check.Equal(1, api.TalvorConnect(demo.Address), "connect to " + demo.Address)) return;
      Check.Section("search, count, move and read", SearchAndRead);
      Check.Section("set a value", SetValue);
      Check.Section("sort", Sort);
      Check.Section("subsets and parents", SubsetsAndParents);
      Check.Section("create, remove, delete and reparent", Editing);
      Check.Section("the user level", UserLevel);
      Check.Section("close and disconnect", CloseAndDisconnect);
    }
  }

  static int Search(string form, string text, string[] user = null) {
    user = user ?? DemoServer.Manager;
    int h = api.TalvorSearch(DemoServer.App, form, 0, 0, text, user[0], user[1]);
    if (Check.True(h >= 0, "search " + form + " " + Check.Show(text) + ": code " + api.TalvorError())) handles.Add(h);
    return h;
  }

  // The rows of a read-only program's answer.
  static List<string> Rows(int h, string program, string argument = "") {
    string answer = api.TalvorRunProgram(h, program, argument, 1);
    Check.Equal(0, api.TalvorError(), "program " + program);
    var rows = answer.Split('\n').ToList();
    rows.RemoveAt(rows.Count - 1);  // after the last line feed
    return rows;
  }

  // The field at every position of the set, moving through it.
  static List<string> Column(int h, string field) {
    var values = new List<string>();
    for (int position = 1; position <= api.TalvorTotal(h); ++position) {
      api.TalvorSetCurrentPosition(h, position);
      values.Add(api.TalvorGetValue(h, field));
    }
    Check.Equal(0, api.TalvorError(), "read " + field + " of every record");
    return values;
  }

  static void SearchAndRead() {
    int h = Search("customers", "");
    var names = Rows(h, "SELECT name FROM customers ORDER BY rowid");
    Check.True(names.Count >= 3, "the demo has customers");
    Check.Equal(names.Count, api.TalvorTotal(h), "TalvorTotal counts them");
    Check.Equal(1, api.TalvorGetCurrentPosition(h), "a new set stands on its first record");
    for (int position = names.Count; position >= 1; --position) {
      api.TalvorSetCurrentPosition(h, position);
      Check.Equal(position, api.TalvorGetCurrentPosition(h), "moved to " + position);
      Check.Equal(names[position - 1], api.TalvorGetValue(h, "name"), "the name at " + position);
    }
    api.TalvorSetCurrentPosition(h, 0);
    Check.Equal(14, api.TalvorError(), "position 0 is refused with 14");
    Check.Equal(0, api.TalvorLocked(h), "nobody else holds the record");

    string city = Rows(h, "SELECT city FROM customers ORDER BY rowid LIMIT 1")[0];
    var inCity = Rows(h, "SELECT name FROM customers WHERE city = :arg ORDER BY rowid", city);
    int found = Search("customers", "city=" + city);
    Check.Equal(inCity, Column(found, "name"), "the search finds the customers of " + city);
  }

  static void SetValue() {
    int h = Search("customers", "");
    api.TalvorSetCurrentPosition(h, 2);
    api.TalvorSetValue(h, "city", "Coimbra");
    Check.Equal(0, api.TalvorError(), "set city");
    Check.Equal("Coimbra", api.TalvorGetValue(h, "CITY"), "read back (field names ignore case)");
    Check.Equal(new List<string> { "Coimbra" }, Rows(h, "SELECT city FROM customers WHERE rowid = :rowid"), "stored");
  }

  static void Sort() {
    int h = Search("customers", "");
    var names = Rows(h, "SELECT name FROM customers ORDER BY rowid");
    var rows = new[] {
      new { Sort = "name:-1", Names = names.OrderByDescending(n => n, StringComparer.Ordinal).ToList() },
      new { Sort = "name:1", Names = names.OrderBy(n => n, StringComparer.Ordinal).ToList() },
    };
    foreach (var row in rows) {
      api.TalvorSort(h, row.Sort);
      Check.Equal(0, api.TalvorError(), "sort " + row.Sort);
      Check.Equal(row.Names, Column(h, "name"), "sorted by " + row.Sort);
    }
    api.TalvorSort(h, "no sort item");
    Check.Equal(13, api.TalvorError(), "a text without a sort item is refused with 13");
  }

  static void SubsetsAndParents() {
    int any = Search("customers", "");
    string[] most = Rows(any, "SELECT customer_id, count(*) FROM orders GROUP BY customer_id" +
                              " ORDER BY count(*) DESC, customer_id LIMIT 1")[0].Split('\t');
    string owner = most[0];
    int customer = Search("customers", "id=" + owner);
    int orders = api.TalvorSubSet(customer, "orders");
    if (!Check.True(orders >= 0, "subset orders: code " + api.TalvorError())) return;
    handles.Add(orders);
    Check.Equal(int.Parse(most[1]), api.TalvorTotal(orders), "the subset holds the customer's orders");
    Check.True(Column(orders, "customer_id").All(id => id == owner), "... and only those");

    int parent = api.TalvorParent(orders);
    if (!Check.True(parent >= 0, "parent: code " + api.TalvorError())) return;
    handles.Add(parent);
    Check.Equal(new List<string> { owner }, Column(parent, "id"), "the parent set holds the customer");

    Check.Equal(-1, api.TalvorSubSet(customer, "no_such_form"), "an unknown subset is refused");
    Check.True(api.TalvorError() != 0, "... with a code");
  }

  static void Editing() {
    const string linesOf = "SELECT id FROM order_lines WHERE order_id = :arg ORDER BY rowid";
    int any = Search("orders", "");
    var two = Rows(any, "SELECT order_id FROM order_lines GROUP BY order_id ORDER BY order_id LIMIT 2");
    int from = Search("orders", "id=" + two[0]);
    int to = Search("orders", "id=" + two[1]);
    int lines = api.TalvorSubSet(from, "order_lines");
    if (!Check.True(lines >= 0, "subset order_lines: code " + api.TalvorError())) return;
    handles.Add(lines);
    string line = api.TalvorGetValue(lines, "id");
    api.TalvorReparent(lines, "order_lines", to);
    Check.Equal(0, api.TalvorError(), "reparent");
    Check.True(Rows(any, linesOf, two[1]).Contains(line), "the line is under the other order");
    Check.True(!Rows(any, linesOf, two[0]).Contains(line), "... and no longer under its first one");

    int all = Search("order_lines", "");
    int count = api.TalvorTotal(all);
    api.TalvorCreateNewRecord(all);
    Check.Equal(0, api.TalvorError(), "create");
    Check.Equal(count + 1, api.TalvorTotal(all), "the set grew");
    string created = api.TalvorGetValue(all, "id");
    api.TalvorRemoveRecord(all);
    Check.Equal(0, api.TalvorError(), "remove");
    Check.Equal(count, api.TalvorTotal(all), "the set shrank");
    Check.Equal(new List<string> { "1" }, Rows(all, "SELECT count(*) FROM order_lines WHERE id = :arg", created),
                "a removed record stays in the database");

    api.TalvorSetCurrentPosition(all, 1);
    string doomed = api.TalvorGetValue(all, "id");
    api.TalvorDeleteRecord(all);
    Check.Equal(0, api.TalvorError(), "delete");
    Check.Equal(count - 1, api.TalvorTotal(all), "the set lost the record");
    Check.Equal(new List<string> { "0" }, Rows(all, "SELECT count(*) FROM order_lines WHERE id = :arg", doomed),
                "a deleted record is gone from the database");
  }

  static void UserLevel() {
    int h = Search("customers", "", DemoServer.Viewer);
    api.TalvorSetValue(h, "city", "Nowhere");
    Check.Equal(15, api.TalvorError(), "a viewer may not set values");
    Search("customers", "");  // the manager's level again
  }

  static void CloseAndDisconnect() {
    int kept = handles[0];
    foreach (int h in handles) {
      api.TalvorClose(h);
      Check.Equal(0, api.TalvorError(), "close " + h);
    }
    handles.Clear();
    Check.Equal(-1, api.TalvorTotal(kept), "a closed handle is refused");
    Check.Equal(11, api.TalvorError(), "... with 11");

    int open = Search("customers", "");
    api.TalvorDisconnect();
    Check.Equal(0, api.TalvorError(), "disconnect");
    Check.Equal(-1, api.TalvorTotal(open), "calls that need the server are refused afterwards");
    Check.Equal(18, api.TalvorError(), "... with 18");
  }
}
