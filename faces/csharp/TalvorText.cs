// Texts between managed strings and the library's NUL-terminated bytes.
//
// The library passes bytes through unchanged, and a server may hold any
// bytes, UTF-8 or not. A string read must therefore be writable back as the
// same bytes, and reading must never fail. Both directions are UTF-8 with
// one extension, the one Python calls surrogateescape: a byte that is not
// part of a valid UTF-8 sequence becomes the lone surrogate U+DC00 + byte
// (U+DC80..U+DCFF), and such a surrogate becomes that byte again.
// Valid UTF-8 never decodes to a lone surrogate, so the mapping is
// reversible: Encode(Decode(bytes)) == bytes for every byte string.

using System;
using System.Runtime.InteropServices;

internal static class TalvorText {

  // A string as the library receives it: UTF-8 with the escapes turned
  // back into their bytes, then a NUL; null for null. Throws
  // ArgumentException (naming the parameter) for a string with no such
  // form: a NUL inside would cut it, and a lone surrogate other than an
  // escape stands for no bytes at all.
  internal static byte[] Encode(string text, string parameter) {
    if (text == null) return null;
    int length = 0;
    for (int i = 0; i < text.Length; ++i) {
      char c = text[i];
      if (c == '\0') {
        throw new ArgumentException("the text holds a NUL character at index " + i +
                                    ", which would end it there", parameter);
      }
      if (c < 0x80) {
        length += 1;
      } else if (c < 0x800) {
        length += 2;
      } else if (IsHigh(c) && i + 1 < text.Length && IsLow(text[i + 1])) {
        length += 4;
        ++i;
      } else if (IsEscape(c)) {
        length += 1;
      } else if (IsHigh(c) || IsLow(c)) {
        throw new ArgumentException(string.Format(
            "the text holds a lone surrogate U+{0:X4} at index {1}, which stands for no bytes",
            (int)c, i), parameter);
      } else {
        length += 3;
      }
    }

    byte[] bytes = new byte[length + 1];  // the last one stays 0
    int n = 0;
    for (int i = 0; i < text.Length; ++i) {
      int c = text[i];
      if (c < 0x80) {
        bytes[n++] = (byte)c;
      } else if (c < 0x800) {
        bytes[n++] = (byte)(0xC0 | c >> 6);
        bytes[n++] = (byte)(0x80 | c & 0x3F);
      } else if (IsHigh((char)c) && i + 1 < text.Length && IsLow(text[i + 1])) {
        int point = char.ConvertToUtf32((char)c, text[++i]);
        bytes[n++] = (byte)(0xF0 | point >> 18);
        bytes[n++] = (byte)(0x80 | point >> 12 & 0x3F);
        bytes[n++] = (byte)(0x80 | point >> 6 & 0x3F);
        bytes[n++] = (byte)(0x80 | point & 0x3F);
      } else if (IsEscape((char)c)) {
        bytes[n++] = (byte)(c - 0xDC00);
      } else {
        bytes[n++] = (byte)(0xE0 | c >> 12);
        bytes[n++] = (byte)(0x80 | c >> 6 & 0x3F);
        bytes[n++] = (byte)(0x80 | c & 0x3F);
      }
    }
    return bytes;
  }

  // The string for the NUL-terminated text at a non-null pointer. Never
  // throws (short of running out of memory).
  internal static unsafe string Decode(IntPtr text) {
    byte* start = (byte*)text;
    byte* end = start;
    while (*end != 0) ++end;
    return Decode(start, checked((int)(end - start)));
  }

  internal static unsafe string Decode(byte[] bytes) {
    if (bytes.Length == 0) return string.Empty;
    fixed (byte* start = bytes) return Decode(start, bytes.Length);
  }

  // Valid sequences are the shortest forms of U+0000..U+10FFFF without the
  // surrogates (the Unicode standard's table of well-formed byte
  // sequences). A lead byte whose sequence is not valid is escaped alone
  // and decoding goes on at the next byte: that is a continuation byte
  // (escaped in turn) or the start of the next sequence, which gives the
  // same result as escaping each maximal invalid part at once.
  static unsafe string Decode(byte* bytes, int count) {
    char[] chars = new char[count];  // never more chars than bytes
    int n = 0;
    int i = 0;
    while (i < count) {
      int lead = bytes[i];
      if (lead < 0x80) {
        chars[n++] = (char)lead;
        ++i;
        continue;
      }
      int follow;        // continuation bytes after the lead
      int low = 0x80;    // range of the first continuation byte
      int high = 0xBF;
      if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
      } else if (lead >= 0xE0 && lead <= 0xEF) {
        follow = 2;
        if (lead == 0xE0) low = 0xA0;        // no overlong forms
        else if (lead == 0xED) high = 0x9F;  // no surrogates
      } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        if (lead == 0xF0) low = 0x90;        // no overlong forms
        else if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
      } else {
        follow = 0;  // a continuation byte, C0, C1 or F5..FF: never valid here
      }
      bool valid = follow > 0 && i + follow < count;
      for (int k = 1; valid && k <= follow; ++k) {
        int b = bytes[i + k];
        valid = k == 1 ? b >= low && b <= high : b >= 0x80 && b <= 0xBF;
      }
      if (!valid) {
        chars[n++] = (char)(0xDC00 + lead);
        ++i;
        continue;
      }
      int point = lead & (0x3F >> follow);
      for (int k = 1; k <= follow; ++k) point = point << 6 | bytes[i + k] & 0x3F;
      if (point >= 0x10000) {
        point -= 0x10000;
        chars[n++] = (char)(0xD800 + (point >> 10));
        chars[n++] = (char)(0xDC00 + (point & 0x3FF));
      } else {
        chars[n++] = (char)point;
      }
      i += follow + 1;
    }
    return new string(chars, 0, n);
  }

  // What the string callback returns: a handle the managed method redeems.
  internal static IntPtr ToHandle(string text) {
    return GCHandle.ToIntPtr(GCHandle.Alloc(text));
  }

  // The string behind a callback's handle, releasing the handle; null for a
  // null handle (a null text: the library ran out of memory).
  internal static string FromHandle(IntPtr handle) {
    if (handle == IntPtr.Zero) return null;
    GCHandle h = GCHandle.FromIntPtr(handle);
    try {
      return h.Target as string;
    } finally {
      h.Free();
    }
  }

  static bool IsHigh(char c) { return c >= 0xD800 && c <= 0xDBFF; }
  static bool IsLow(char c) { return c >= 0xDC00 && c <= 0xDFFF; }
  static bool IsEscape(char c) { return c >= 0xDC80 && c <= 0xDCFF; }
}
