/* The Java module: the class talvor_java_apiJNI (default package) with the
 * public functions as static native methods, TalvorError beside them, and
 * SWIG's class talvor_java_api on top. The JNI class loads
 * libtalvor_java_api.so itself, from java.library.path.
 *
 * Texts cross as the JVM's modified UTF-8 (GetStringUTFChars), unchanged:
 * a character outside ASCII reaches the server as its modified UTF-8 bytes,
 * U+0000 as the two bytes C0 80 (so it does not cut the text), and a null
 * String as a null pointer. Returned texts become Strings (null for a null
 * text) and are freed once, with free.
 *
 * Where SWIG's Java defaults are not enough:
 *   - SWIG returns at once when GetStringUTFChars fails (the JVM is out of
 *     memory), so the buffers of the earlier arguments would never be given
 *     back. Each buffer here is held by a guard that gives it back on any
 *     return; freearg gives them back in parameter order on the normal path.
 *   - NewStringUTF is only defined for modified UTF-8, but the server returns
 *     whatever bytes any client stored. Such a text is decoded here instead
 *     (talvor_java_string), so no byte from the wire can crash the JVM.
 */
%module talvor_java_api

%pragma(java) jniclasscode=%{
  static {
    System.loadLibrary("talvor_java_api");
  }
%}

%{
#include <stdlib.h>
#include <string.h>

namespace {

// An argument's modified UTF-8 bytes, borrowed from the JVM until release()
// or the end of the native method, whichever comes first.
struct talvor_utf_chars {
  JNIEnv *env = nullptr;
  jstring string = nullptr;
  const char *chars = nullptr;

  const char *get(JNIEnv *e, jstring s) {
    env = e;
    string = s;
    chars = e->GetStringUTFChars(s, nullptr);
    return chars;
  }
  void release() {
    if (chars) env->ReleaseStringUTFChars(string, chars);
    chars = nullptr;
  }
  ~talvor_utf_chars() { release(); }
};

bool talvor_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The length of the modified UTF-8 sequence at p, 0 when none starts there.
// These are the forms GetStringUTFChars writes: U+0001..U+007F in one byte,
// U+0000 (as C0 80) and U+0080..U+07FF in two, U+0800..U+FFFF (surrogates
// included) in three, each in its shortest form but U+0000. The text's NUL
// begins none, and ends any sequence it cuts short.
size_t talvor_modified_utf8_length(const unsigned char *p) {
  if (p[0] < 0x80) return p[0] ? 1 : 0;
  if (p[0] == 0xC0) return p[1] == 0x80 ? 2 : 0;
  if (p[0] >= 0xC2 && p[0] <= 0xDF) return talvor_continuation(p[1]) ? 2 : 0;
  if (p[0] >= 0xE0 && p[0] <= 0xEF) {
    if (!talvor_continuation(p[1]) || !talvor_continuation(p[2])) return 0;
    return p[0] == 0xE0 && p[1] < 0xA0 ? 0 : 3;
  }
  return 0;
}

// The length of a standard UTF-8 sequence of four bytes at p
// (U+10000..U+10FFFF, as clients in other languages write them), else 0.
size_t talvor_utf8_four_length(const unsigned char *p) {
  if (p[0] < 0xF0 || p[0] > 0xF4) return 0;
  if (!talvor_continuation(p[1]) || !talvor_continuation(p[2]) || !talvor_continuation(p[3])) return 0;
  if ((p[0] == 0xF0 && p[1] < 0x90) || (p[0] == 0xF4 && p[1] > 0x8F)) return 0;
  return 4;
}

// The text as Java chars: modified UTF-8 and four-byte UTF-8 sequences as
// the chars they stand for, and each byte that begins no such sequence as
// U+FFFD, the replacement character. Returns the count; out holds at least
// strlen(text) chars (no byte makes more than one char).
jsize talvor_decode(const unsigned char *p, jchar *out) {
  jsize n = 0;
  while (*p) {
    if (size_t len = talvor_modified_utf8_length(p)) {
      if (len == 1) out[n++] = p[0];
      else if (len == 2) out[n++] = (jchar)(((p[0] & 0x1F) << 6) | (p[1] & 0x3F));
      else out[n++] = (jchar)(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
      p += len;
    } else if (talvor_utf8_four_length(p)) {
      unsigned long c = ((unsigned long)(p[0] & 0x07) << 18) | ((unsigned long)(p[1] & 0x3F) << 12) |
                        ((unsigned long)(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
      c -= 0x10000;
      out[n++] = (jchar)(0xD800 | (c >> 10));
      out[n++] = (jchar)(0xDC00 | (c & 0x3FF));
      p += 4;
    } else {
      out[n++] = 0xFFFD;
      ++p;
    }
  }
  return n;
}

// A Java string of a returned text: null for null, through NewStringUTF
// when the text is modified UTF-8 (as every text a Java program wrote is),
// otherwise decoded by talvor_decode. Null with an OutOfMemoryError pending
// when memory runs out.
jstring talvor_java_string(JNIEnv *env, const char *text) {
  if (!text) return nullptr;
  const unsigned char *p = (const unsigned char *)text;
  while (size_t len = talvor_modified_utf8_length(p)) p += len;
  if (!*p) return env->NewStringUTF(text);

  // The core takes no block beyond 256 MiB, so the length fits a jsize.
  size_t length = strlen(text);
  jchar *chars = (jchar *)malloc(length * sizeof(jchar));
  if (!chars) {
    jclass error = env->FindClass("java/lang/OutOfMemoryError");
    if (error) env->ThrowNew(error, "decoding a text from the server");
    return nullptr;
  }
  jstring result = env->NewString(chars, talvor_decode((const unsigned char *)text, chars));
  free(chars);
  return result;
}

}  // namespace
%}

/* A null from GetStringUTFChars leaves an OutOfMemoryError pending: the
 * method returns before the library is called, and the guards of this and
 * the earlier arguments give back what they hold. */
%typemap(in, noblock=1) char * (talvor_utf_chars utf) {
  $1 = 0;
  if ($input) {
    $1 = ($1_ltype)utf.get(jenv, $input);
    if (!$1) return $null;
  }
}
%typemap(freearg, noblock=1) char * { utf$argnum.release(); }

%typemap(out, noblock=1) char * { $result = talvor_java_string(jenv, $1); }

// talvor_java_api's methods carry the library's parameter names.
#define TALVOR_NAMED_PARAMETERS
%include "talvor.i"
