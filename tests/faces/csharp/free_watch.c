/* Preloaded into mono (LD_PRELOAD) by the text tests: counts how often a
 * watched pointer reaches free, so a test can see a text of the library
 * freed exactly once, and after the string callback saw it.
 *
 * One pointer is watched at a time. Its free clears the watch: once freed,
 * the address may be handed out again and freed by anyone. A second free of
 * the same text by the library would be a double free, which glibc stops
 * the process for. */
#include <stdatomic.h>
#include <stddef.h>

/* glibc's own free, under the name it keeps for interposers. */
extern void __libc_free(void *);

static _Atomic(void *) watched;
static atomic_int freed;

void free(void *pointer) {
  void *expected = pointer;
  if (pointer && atomic_compare_exchange_strong(&watched, &expected, NULL)) {
    atomic_fetch_add(&freed, 1);
  }
  __libc_free(pointer);
}

/* Watches pointer until it is freed (null: watches nothing). */
void talvor_watch_free(void *pointer) { atomic_store(&watched, pointer); }

/* How many watched pointers have been freed so far. */
int talvor_watched_frees(void) { return atomic_load(&freed); }
