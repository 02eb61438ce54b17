import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * A session through talvor_java_api, SWIG's class over the native methods,
 * against a talvor-server of the test's own on the demo application: every
 * method on real records. What the records hold is read with SQL programs,
 * beside the methods under test.
 */
public final class TestSession {
  private static DemoServer server;

  public static void main(String[] args) throws Exception {
    try (DemoServer s = new DemoServer()) {
      server = s;
      session();
    }
    Check.finish();
  }

  private static int search(String form, String text) {
    int h = talvor_java_api.TalvorSearch(DemoServer.APPLICATION, form, 0, 0, text, server.user, server.password);
    Check.isTrue(h >= 0, "search " + form + " '" + text + "' (code " + talvor_java_api.TalvorError() + ")");
    return h;
  }

  /** The rows a read-only program answers, one String per row. */
  private static List<String> sql(int h, String program, String argument) {
    String answer = talvor_java_api.TalvorRunProgram(h, program, argument, 1);
    Check.equal(0, talvor_java_api.TalvorError(), "program " + program);
    List<String> rows = new ArrayList<>(Arrays.asList(answer.split("\n", -1)));
    rows.remove(rows.size() - 1); // after the last line feed
    return rows;
  }

  /** The field at every position of the set, moving through it. */
  private static List<String> column(int h, String field) {
    List<String> values = new ArrayList<>();
    for (int position = 1; position <= talvor_java_api.TalvorTotal(h); position++) {
      talvor_java_api.TalvorSetCurrentPosition(h, position);
      values.add(talvor_java_api.TalvorGetValue(h, field));
    }
    Check.equal(0, talvor_java_api.TalvorError(), "read " + field + " of every record");
    return values;
  }

  private static void session() {
    if (!Check.equal(1, talvor_java_api.TalvorConnect(server.address), "connect to " + server.address)) return;

    // Search, count, move, read.
    int customers = search("customers", "");
    List<String> names = sql(customers, "SELECT name FROM customers ORDER BY rowid", "");
    Check.isTrue(names.size() >= 3, "the demo has customers");
    Check.equal(names.size(), talvor_java_api.TalvorTotal(customers), "TalvorTotal counts them");
    Check.equal(1, talvor_java_api.TalvorGetCurrentPosition(customers), "a new set stands on its first record");
    Check.equal(names, column(customers, "name"), "the names, position by position");
    talvor_java_api.TalvorSetCurrentPosition(customers, 3);
    Check.equal(3, talvor_java_api.TalvorGetCurrentPosition(customers), "moved to 3");
    Check.equal(0, talvor_java_api.TalvorLocked(customers), "nobody else holds the record");
    Check.equal(names.get(2), talvor_java_api.TalvorGetValue(customers, "NAME"), "field names ignore case");

    List<String> cities = sql(customers, "SELECT city FROM customers WHERE city IS NOT NULL ORDER BY rowid", "");
    String city = cities.get(0);
    int inCity = search("customers", "city=" + city);
    Check.equal(sql(inCity, "SELECT name FROM customers WHERE city = :arg ORDER BY rowid", city),
                column(inCity, "name"), "the search finds the customers of " + city);
    talvor_java_api.TalvorClose(inCity);
    Check.equal(0, talvor_java_api.TalvorError(), "close");
    Check.equal(-1, talvor_java_api.TalvorTotal(inCity), "a closed handle is refused");
    Check.equal(11, talvor_java_api.TalvorError(), "... with 11");

    // Set.
    talvor_java_api.TalvorSetCurrentPosition(customers, 2);
    talvor_java_api.TalvorSetValue(customers, "city", "Coimbra");
    Check.equal(0, talvor_java_api.TalvorError(), "set city");
    Check.equal("Coimbra", talvor_java_api.TalvorGetValue(customers, "city"), "the record holds the value");
    Check.equal(List.of("Coimbra"), sql(customers, "SELECT city FROM customers WHERE rowid = :rowid", ""),
                "... and so does the database");

    // Sort.
    talvor_java_api.TalvorSort(customers, "name:-1");
    Check.equal(0, talvor_java_api.TalvorError(), "sort descending");
    List<String> descending = new ArrayList<>(names);
    descending.sort(Collections.reverseOrder());
    Check.equal(descending, column(customers, "name"), "names run descending");
    talvor_java_api.TalvorSort(customers, "no sort item");
    Check.equal(13, talvor_java_api.TalvorError(), "a text without a sort item is refused with 13");

    // Subset and parent: the orders of the customer with the most.
    String[] most = sql(customers, "SELECT customer_id, count(*) FROM orders GROUP BY customer_id"
                                   + " ORDER BY count(*) DESC, customer_id LIMIT 1", "").get(0).split("\t");
    String owner = most[0];
    int customer = search("customers", "id=" + owner);
    int orders = talvor_java_api.TalvorSubSet(customer, "orders");
    Check.isTrue(orders >= 0, "subset orders (code " + talvor_java_api.TalvorError() + ")");
    Check.equal(Integer.parseInt(most[1]), talvor_java_api.TalvorTotal(orders), "the subset counts the orders");
    Check.equal(sql(customer, "SELECT id FROM orders WHERE customer_id = :id ORDER BY rowid", ""),
                column(orders, "id"), "the subset holds the customer's orders");
    int parent = talvor_java_api.TalvorParent(orders);
    Check.isTrue(parent >= 0, "parent (code " + talvor_java_api.TalvorError() + ")");
    Check.equal(List.of(owner), column(parent, "id"), "the parent set holds the customer");
    Check.equal(-1, talvor_java_api.TalvorSubSet(customer, "no_such_form"), "an unknown subset is refused");

    // Create, remove and delete, in the order lines of the current order.
    int lines = talvor_java_api.TalvorSubSet(orders, "order_lines");
    Check.isTrue(lines >= 0, "subset order_lines");
    int before = talvor_java_api.TalvorTotal(lines);
    talvor_java_api.TalvorCreateNewRecord(lines);
    Check.equal(0, talvor_java_api.TalvorError(), "create");
    talvor_java_api.TalvorSetValue(lines, "product", "Paper clips");
    Check.equal(before + 1, talvor_java_api.TalvorTotal(lines), "the set grew");
    Check.equal(talvor_java_api.TalvorGetValue(orders, "id"), talvor_java_api.TalvorGetValue(lines, "order_id"),
                "the new line belongs to the order");
    String created = talvor_java_api.TalvorGetValue(lines, "id");
    talvor_java_api.TalvorRemoveRecord(lines);
    Check.equal(0, talvor_java_api.TalvorError(), "remove");
    Check.equal(before, talvor_java_api.TalvorTotal(lines), "the set shrank");
    Check.equal(List.of("1"), sql(lines, "SELECT count(*) FROM order_lines WHERE id = :arg", created),
                "a removed record stays in the database");
    talvor_java_api.TalvorSetCurrentPosition(lines, 1);
    String doomed = talvor_java_api.TalvorGetValue(lines, "id");
    talvor_java_api.TalvorDeleteRecord(lines);
    Check.equal(0, talvor_java_api.TalvorError(), "delete");
    Check.equal(List.of("0"), sql(lines, "SELECT count(*) FROM order_lines WHERE id = :arg", doomed),
                "a deleted record is gone from the database");

    // Reparent: a line of one order moves under another.
    List<String> two = sql(customers, "SELECT order_id FROM order_lines GROUP BY order_id ORDER BY order_id LIMIT 2", "");
    int from = search("orders", "id=" + two.get(0));
    int to = search("orders", "id=" + two.get(1));
    int fromLines = talvor_java_api.TalvorSubSet(from, "order_lines");
    String moved = talvor_java_api.TalvorGetValue(fromLines, "id");
    talvor_java_api.TalvorReparent(fromLines, "order_lines", to);
    Check.equal(0, talvor_java_api.TalvorError(), "reparent");
    Check.equal(List.of(two.get(1)), sql(from, "SELECT order_id FROM order_lines WHERE id = :arg", moved),
                "the line is under the other order");

    // A program with its argument, and the answer as one text.
    Check.equal(talvor_java_api.TalvorGetValue(parent, "name") + "\n",
                talvor_java_api.TalvorRunProgram(customers, "SELECT name FROM customers WHERE id = :arg", owner, 1),
                "a program's answer");

    for (int handle : new int[] {customers, customer, orders, parent, lines, from, to, fromLines}) {
      talvor_java_api.TalvorClose(handle);
      Check.equal(0, talvor_java_api.TalvorError(), "close " + handle);
    }
    talvor_java_api.TalvorDisconnect();
    Check.equal(0, talvor_java_api.TalvorError(), "disconnect");
    Check.equal(-1, talvor_java_api.TalvorSearch(DemoServer.APPLICATION, "customers", 0, 0, "", server.user,
                                                 server.password), "a search after disconnecting is refused");
    Check.equal(18, talvor_java_api.TalvorError(), "... with 18");
  }
}
