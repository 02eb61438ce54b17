/* The C# library: libtalvor_csharp_api.so with the exports CSharp_<Name>
 * for platform invoke, and the assembly talvor_csharp_api.dll whose class
 * talvor_csharp_api declares them as static methods.
 *
 * Texts cross as bytes, in both directions unchanged:
 *   - A string argument is encoded by our own code (TalvorText.cs) as UTF-8
 *     plus a NUL, into a byte[] that the marshaller passes as a pointer to
 *     its bytes; null is a null pointer. Lone surrogates U+DC80..U+DCFF
 *     stand for the bytes 0x80..0xFF, so a string read from the library is
 *     written back byte for byte. A string that has no such form (a NUL
 *     inside, any other lone surrogate) is refused with ArgumentException
 *     before the library is called.
 *   - A returned text goes to the registered string callback as a pointer.
 *     Ours decodes it the same lenient way (it never throws: an exception
 *     in a callback would skip the free below and leak the text) and
 *     returns a GCHandle to the new string; the export frees the text with
 *     free and returns the handle, which the managed method turns back into
 *     the string. SWIG's own helper would take the text as a string
 *     parameter, whose marshalling throws on bytes that are not UTF-8, and
 *     copy it through native memory a second time on the way out.
 *
 * The exception callbacks are registered as SWIG does (the library stores
 * them and never calls them: no export raises a managed exception).
 */
%module talvor_csharp_api

/* -DSWIG_CSHARP_NO_STRING_HELPER is given on the command line: the helper's
 * pieces are replaced below, and SWIG includes its own before this file. */

%insert(runtime) %{
/* The managed side's string callback: takes the library's text (or null)
 * and returns a handle to the managed string it made. */
typedef void *(SWIGSTDCALL *SWIG_CSharpStringHelperCallback)(const char *);
static SWIG_CSharpStringHelperCallback SWIG_csharp_string_callback = NULL;

/* A later registration replaces the callback for every later text result. */
#ifdef __cplusplus
extern "C"
#endif
SWIGEXPORT void SWIGSTDCALL SWIGRegisterStringCallback_talvor_csharp_api(SWIG_CSharpStringHelperCallback callback) {
  SWIG_csharp_string_callback = callback;
}
%}

%pragma(csharp) imclasscode=%{
  // Registers the string callback before the first call of this class. The
  // delegate lives in a static field for the life of the process, since the
  // library keeps a pointer to it.
  internal class SWIGStringHelper {

    public delegate global::System.IntPtr SWIGStringDelegate(global::System.IntPtr text);
    internal static readonly SWIGStringDelegate stringDelegate = new SWIGStringDelegate(CreateString);

    [global::System.Runtime.InteropServices.DllImport("$dllimport", EntryPoint="SWIGRegisterStringCallback_$module")]
    public static extern void SWIGRegisterStringCallback_$module(SWIGStringDelegate stringDelegate);

    // Must not throw: the library frees the text only after this returns.
    static global::System.IntPtr CreateString(global::System.IntPtr text) {
      if (text == global::System.IntPtr.Zero) return global::System.IntPtr.Zero;
      return TalvorText.ToHandle(TalvorText.Decode(text));
    }

    static SWIGStringHelper() {
      SWIGRegisterStringCallback_$module(stringDelegate);
    }
  }

  static internal SWIGStringHelper swigStringHelper = new SWIGStringHelper();
%}

/* char * arguments: our own byte[]; results: the callback's handle. */
%typemap(ctype, out="void *") char * "char *"
%typemap(imtype, out="global::System.IntPtr") char * "byte[]"
%typemap(cstype) char * "string"
%typemap(csin) char * "TalvorText.Encode($csinput, \"$csinput\")"
%typemap(in) char * %{ $1 = $input; %}
/* The text reaches the callback once; the newfree of talvor.i frees it
 * right after, and the callback's result is what the export returns. */
%typemap(out) char * %{ $result = SWIG_csharp_string_callback((const char *)$1); %}
%typemap(csout, excode=SWIGEXCODE) char * {
    return TalvorText.FromHandle($imcall);
  }

// The methods carry the library's parameter names.
#define TALVOR_NAMED_PARAMETERS
%include "talvor.i"
