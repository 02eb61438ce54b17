/* A C program on the installed C interface (talvor/talvor.h), built with
 * pkg-config: connects, has a wrong password refused, searches, counts,
 * reads a value of the last record found, changes it and disconnects. USER
 * needs level 1 at least. Exits 1 at the first difference from what the
 * caller expects.
 *
 *   c_client ADDRESS APPLICATION FORM USER PASSWORD SEARCH FIELD TOTAL VALUE
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <talvor/talvor.h>

static int fail(const char *what) {
  int code = talvor_error();
  fprintf(stderr, "c_client: %s (code %d: %s)\n", what, code, talvor_error_text(code));
  talvor_disconnect();
  return 1;
}

int main(int argc, char **argv) {
  const char *address, *application, *form, *user, *password, *search, *field, *value_wanted;
  int total_wanted, handle, total;
  char *value;

  if (argc != 10) {
    fprintf(stderr, "usage: c_client ADDRESS APPLICATION FORM USER PASSWORD SEARCH FIELD TOTAL VALUE\n");
    return 2;
  }
  address = argv[1];
  application = argv[2];
  form = argv[3];
  user = argv[4];
  password = argv[5];
  search = argv[6];
  field = argv[7];
  total_wanted = atoi(argv[8]);
  value_wanted = argv[9];

  if (!talvor_connect(address)) return fail("connect failed");

  /* A refusal must reach a C caller as -1 and a code, not as a handle. */
  handle = talvor_search(application, form, 0, 0, search, user, "not the password");
  if (handle != -1 || talvor_error() == 0) return fail("a wrong password was not refused");

  handle = talvor_search(application, form, 0, 0, search, user, password);
  if (handle < 0) return fail("search failed");
  total = talvor_total(handle);
  if (total != total_wanted) {
    fprintf(stderr, "c_client: %d records found, %d expected\n", total, total_wanted);
    return fail("wrong total");
  }
  talvor_set_current_position(handle, total);
  if (talvor_error() != 0) return fail("moving to the last record failed");
  value = talvor_get_value(handle, field);
  if (value == NULL || talvor_error() != 0) return fail("reading the value failed");
  if (strcmp(value, value_wanted) != 0) {
    fprintf(stderr, "c_client: %s is \"%s\", \"%s\" expected\n", field, value, value_wanted);
    talvor_free(value);
    return fail("wrong value");
  }
  printf("c_client: %d records, the last one's %s is \"%s\"\n", total, field, value);
  fflush(stdout);
  talvor_free(value);

  /* The library trims a set value in place; the C interface must trim a
   * copy and leave the caller's text as it was. */
  {
    size_t size = strlen(value_wanted) + 32;
    char *padded = malloc(size), *original = malloc(size), *trimmed = malloc(size);
    int same;
    if (!padded || !original || !trimmed) return fail("out of memory");
    snprintf(padded, size, "  %s, changed  ", value_wanted);
    snprintf(original, size, "%s", padded);
    snprintf(trimmed, size, "%s, changed", value_wanted);
    talvor_set_value(handle, field, padded);
    if (talvor_error() != 0) return fail("setting the value failed");
    if (strcmp(padded, original) != 0) {
      fprintf(stderr, "c_client: set_value changed the caller's \"%s\" to \"%s\"\n", original, padded);
      return fail("the caller's text was changed");
    }
    value = talvor_get_value(handle, field);
    if (value == NULL || talvor_error() != 0) return fail("reading the set value failed");
    same = strcmp(value, trimmed) == 0;
    if (!same) fprintf(stderr, "c_client: %s is \"%s\" after the change, \"%s\" expected\n", field, value, trimmed);
    talvor_free(value);
    free(padded);
    free(original);
    free(trimmed);
    if (!same) return fail("the set value reads back wrong");
  }

  talvor_close(handle);
  if (talvor_error() != 0) return fail("close failed");
  talvor_disconnect();
  if (talvor_error() != 0) {
    fprintf(stderr, "c_client: disconnect reported code %d: %s\n", talvor_error(),
            talvor_error_text(talvor_error()));
    return 1;
  }
  return 0;
}
