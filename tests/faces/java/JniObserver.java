/**
 * The natives of jni_observer.c, which must be preloaded (LD_PRELOAD) and
 * then loaded with System.load. See that file for what it observes.
 */
final class JniObserver {
  private JniObserver() {}

  /** Observes the calling thread from now on; false if it cannot, or if the
   *  library was not preloaded. */
  static native boolean install();

  /** Starts a new observation: the GetStringUTFChars call (1: the next) that
   *  fails, or 0; whether the next NewStringUTF or NewString fails; the size
   *  of the next malloc that fails, or 0. */
  static native void arm(int utfCall, boolean newString, long mallocSize);

  /** GetStringUTFChars calls since arm(). */
  static native int utfCalls();

  /** Buffers obtained since arm() and not given back. */
  static native int outstanding();

  /** Buffers given back with other contents than the JVM lent them with. */
  static native int writtenBuffers();

  /** Whether the text handed to the failed NewStringUTF or NewString call
   *  has been freed. */
  static native boolean failedTextFreed();
}
