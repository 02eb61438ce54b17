/* What the Java module does at the JNI boundary, seen from outside it: one
 * library that a test loads twice over, with LD_PRELOAD (its malloc and
 * free then stand in front of the C library's for the whole process) and
 * with System.load (for the natives of the class JniObserver).
 *
 * JniObserver.install() puts four JNI functions of its own in front of the
 * JVM's through JVMTI's SetJNIFunctionTable. For the thread that called it,
 * they let a test
 *   - make one GetStringUTFChars, NewStringUTF or NewString call, or one
 *     malloc of a given size, fail the way they fail when memory runs out
 *     (null, with an OutOfMemoryError pending where the JVM raises one);
 *   - count the GetStringUTFChars calls and the buffers not given back;
 *   - see whether a buffer the JVM lent (const) was written to;
 *   - see whether the text handed to a failed NewStringUTF or NewString
 *     call was freed afterwards.
 * Other threads' calls pass straight through.
 */
#include <jni.h>
#include <jvmti.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdbool.h>
#include <stddef.h>
#include <string.h>

/* glibc's own allocator, behind the interposed malloc and free. */
extern void *__libc_malloc(size_t size);
extern void __libc_free(void *p);

static const struct JNINativeInterface_ *jvm; /* the JVM's functions */
static struct JNINativeInterface_ observed;

static _Atomic(JNIEnv *) watched_env;
static pthread_t watched_thread;

/* Touched by the watched thread only. */
static int utf_calls;
static int failing_utf_call;
static bool failing_new_string;
static int written_buffers;

/* Buffers lent by GetStringUTFChars and not given back, with a copy of what
 * they held. */
enum { LENT_MAX = 16 };
static struct {
  const char *chars;
  char *copy;
} lent[LENT_MAX];
static int lent_untracked;

/* Read by malloc and free on every thread. */
static atomic_size_t failing_malloc_size;
static _Atomic(const void *) failed_text;
static atomic_bool failed_text_freed;

void *malloc(size_t size) {
  if (size != 0 && size == atomic_load_explicit(&failing_malloc_size, memory_order_relaxed) &&
      pthread_equal(pthread_self(), watched_thread)) {
    atomic_store(&failing_malloc_size, 0);
    return NULL;
  }
  return __libc_malloc(size);
}

void free(void *p) {
  if (p && p == atomic_load_explicit(&failed_text, memory_order_relaxed)) {
    atomic_store(&failed_text, NULL);
    atomic_store(&failed_text_freed, true);
  }
  __libc_free(p);
}

static bool watched(JNIEnv *env) { return env == atomic_load(&watched_env); }

static void throw_out_of_memory(JNIEnv *env, const char *what) {
  jclass c = jvm->FindClass(env, "java/lang/OutOfMemoryError");
  if (c) jvm->ThrowNew(env, c, what);
}

static void lend(const char *chars) {
  for (int i = 0; i < LENT_MAX; i++) {
    if (!lent[i].chars) {
      size_t n = strlen(chars) + 1;
      lent[i].chars = chars;
      lent[i].copy = __libc_malloc(n);
      if (lent[i].copy) memcpy(lent[i].copy, chars, n);
      return;
    }
  }
  lent_untracked++;
}

static void give_back(const char *chars) {
  for (int i = 0; i < LENT_MAX; i++) {
    if (lent[i].chars == chars) {
      if (!lent[i].copy || strcmp(lent[i].copy, chars) != 0) written_buffers++;
      __libc_free(lent[i].copy);
      lent[i].chars = NULL;
      lent[i].copy = NULL;
      return;
    }
  }
  lent_untracked--;
}

static const char *JNICALL observed_get_string_utf_chars(JNIEnv *env, jstring s, jboolean *is_copy) {
  if (!watched(env)) return jvm->GetStringUTFChars(env, s, is_copy);
  if (++utf_calls == failing_utf_call) {
    throw_out_of_memory(env, "injected: GetStringUTFChars");
    return NULL;
  }
  const char *chars = jvm->GetStringUTFChars(env, s, is_copy);
  if (chars) lend(chars);
  return chars;
}

static void JNICALL observed_release_string_utf_chars(JNIEnv *env, jstring s, const char *chars) {
  if (watched(env)) give_back(chars);
  jvm->ReleaseStringUTFChars(env, s, chars);
}

static bool fail_new_string(JNIEnv *env, const void *text) {
  if (!watched(env) || !failing_new_string) return false;
  failing_new_string = false;
  atomic_store(&failed_text, text);
  throw_out_of_memory(env, "injected: new string");
  return true;
}

static jstring JNICALL observed_new_string_utf(JNIEnv *env, const char *utf) {
  return fail_new_string(env, utf) ? NULL : jvm->NewStringUTF(env, utf);
}

static jstring JNICALL observed_new_string(JNIEnv *env, const jchar *chars, jsize length) {
  return fail_new_string(env, chars) ? NULL : jvm->NewString(env, chars, length);
}

/* Observes the calling thread from now on. False when the JNI functions
 * cannot be replaced, or when malloc and free are not this library's (it
 * was not preloaded). */
JNIEXPORT jboolean JNICALL Java_JniObserver_install(JNIEnv *env, jclass c) {
  (void)c;
  JavaVM *vm = NULL;
  jvmtiEnv *jvmti = NULL;
  jniNativeInterface *table = NULL;
  if ((*env)->GetJavaVM(env, &vm) != JNI_OK ||
      (*vm)->GetEnv(vm, (void **)&jvmti, JVMTI_VERSION_1_2) != JNI_OK ||
      (*jvmti)->GetJNIFunctionTable(jvmti, &table) != JVMTI_ERROR_NONE) {
    return JNI_FALSE;
  }
  jvm = table;
  observed = *table;
  observed.GetStringUTFChars = observed_get_string_utf_chars;
  observed.ReleaseStringUTFChars = observed_release_string_utf_chars;
  observed.NewStringUTF = observed_new_string_utf;
  observed.NewString = observed_new_string;
  watched_thread = pthread_self();
  atomic_store(&watched_env, env);
  if ((*jvmti)->SetJNIFunctionTable(jvmti, &observed) != JVMTI_ERROR_NONE) return JNI_FALSE;

  /* Preloaded, this library's malloc is the one every library calls, and
   * an armed size fails. (Through a volatile pointer: the compiler may not
   * drop the call.) */
  void *(*volatile process_malloc)(size_t) = malloc;
  atomic_store(&failing_malloc_size, 12345);
  void *p = process_malloc(12345);
  atomic_store(&failing_malloc_size, 0);
  __libc_free(p);
  return p == NULL ? JNI_TRUE : JNI_FALSE;
}

/* Starts a new observation: counts back to zero, and what fails next.
 * utfCall: the GetStringUTFChars call (1 the next) that fails, 0 none.
 * newString: whether the next NewStringUTF or NewString fails.
 * mallocSize: the size of the next malloc that fails, 0 none. */
JNIEXPORT void JNICALL Java_JniObserver_arm(JNIEnv *env, jclass c, jint utf_call, jboolean new_string,
                                            jlong malloc_size) {
  (void)env;
  (void)c;
  for (int i = 0; i < LENT_MAX; i++) {
    __libc_free(lent[i].copy);
    lent[i].chars = NULL;
    lent[i].copy = NULL;
  }
  lent_untracked = 0;
  utf_calls = 0;
  failing_utf_call = utf_call;
  failing_new_string = new_string;
  written_buffers = 0;
  atomic_store(&failed_text, NULL);
  atomic_store(&failed_text_freed, false);
  atomic_store(&failing_malloc_size, (size_t)malloc_size);
}

JNIEXPORT jint JNICALL Java_JniObserver_utfCalls(JNIEnv *env, jclass c) {
  (void)env;
  (void)c;
  return utf_calls;
}

/* Buffers obtained since arm() and not given back. */
JNIEXPORT jint JNICALL Java_JniObserver_outstanding(JNIEnv *env, jclass c) {
  (void)env;
  (void)c;
  int n = lent_untracked;
  for (int i = 0; i < LENT_MAX; i++) n += lent[i].chars != NULL;
  return n;
}

/* Buffers given back with other contents than they were lent with. */
JNIEXPORT jint JNICALL Java_JniObserver_writtenBuffers(JNIEnv *env, jclass c) {
  (void)env;
  (void)c;
  return written_buffers;
}

/* Whether a NewStringUTF or NewString call failed since arm(), and the text
 * it was handed has been freed since. */
JNIEXPORT jboolean JNICALL Java_JniObserver_failedTextFreed(JNIEnv *env, jclass c) {
  (void)env;
  (void)c;
  return atomic_load(&failed_text_freed) ? JNI_TRUE : JNI_FALSE;
}
