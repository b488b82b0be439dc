// iconv wrappers for the code pages of distributables, and the escaping of
// archive text for display. Code pages are named for iconv as CP<number>;
// 65001 and UTF-8 mean the names are taken byte for byte.
#include "text_codec.h"

#include <errno.h>
#include <iconv.h>
#include <stdio.h>

#include <cctype>

namespace {

class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (Valid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts text[at...] as far as it goes; returns the offset where it
  // stopped (text.size() when all of it converted).
  size_t Run(const std::string& text, size_t at, std::string& out) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text.data()) + at;
    size_t inLeft = text.size() - at;
    char buffer[1024];
    while (inLeft > 0) {
      char* o = buffer;
      size_t oLeft = sizeof buffer;
      size_t r = iconv(handle_, &in, &inLeft, &o, &oLeft);
      out.append(buffer, static_cast<size_t>(o - buffer));
      if (r == static_cast<size_t>(-1) && errno != E2BIG) break;
    }
    if (inLeft == 0) {
      char* o = buffer;
      size_t oLeft = sizeof buffer;
      iconv(handle_, nullptr, nullptr, &o, &oLeft);
      out.append(buffer, static_cast<size_t>(o - buffer));
    }
    return text.size() - inLeft;
  }

 private:
  iconv_t handle_;
};

std::optional<std::string> ConvertWhole(const std::string& to, const std::string& from,
                                        const std::string& text) {
  Converter c(to, from);
  if (!c.Valid()) return std::nullopt;
  std::string out;
  if (c.Run(text, 0, out) != text.size()) return std::nullopt;
  return out;
}

bool IsAllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

void AppendEscapedByte(unsigned char c, std::string& out) {
  char hex[8];
  snprintf(hex, sizeof hex, "\\x%02X", c);
  out += hex;
}

// Length of the valid UTF-8 sequence at s[i], 0 when there is none.
size_t Utf8SequenceLength(const std::string& s, size_t i, uint32_t* codePoint) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n;
  uint32_t cp;
  if (c < 0x80) {
    *codePoint = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    n = 2;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (t & 0x3F);
  }
  static constexpr uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *codePoint = cp;
  return n;
}

// Escapes controls and invalid bytes of (mostly) UTF-8 text.
std::string EscapeUtf8(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = 0;
    size_t n = Utf8SequenceLength(s, i, &cp);
    if (n == 0) {
      AppendEscapedByte(static_cast<unsigned char>(s[i]), out);
      ++i;
      continue;
    }
    if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp < 0x20 || cp == 0x7F) {
      AppendEscapedByte(static_cast<unsigned char>(cp), out);
    } else if (cp >= 0x80 && cp <= 0x9F) {
      char hex[10];
      snprintf(hex, sizeof hex, "\\u%04X", cp);
      out += hex;
    } else {
      out.append(s, i, n);
    }
    i += n;
  }
  return out;
}

}  // namespace

std::optional<CodePage> ParseCodePage(const std::string& text) {
  CodePage page;
  page.Name = text;
  std::string upper = Upper(text);
  if (upper == "65001" || upper == "UTF-8" || upper == "UTF8" || upper == "CP65001") {
    page.IconvName = "UTF-8";
    page.IsUtf8 = true;
    return page;
  }
  page.IconvName = IsAllDigits(upper) ? "CP" + upper : upper;
  Converter probe("UTF-8", page.IconvName);
  if (!probe.Valid()) return std::nullopt;
  return page;
}

std::optional<std::string> FromUtf8(const CodePage& page, const std::string& text) {
  if (page.IsUtf8) {
    for (size_t i = 0; i < text.size();) {
      uint32_t cp;
      size_t n = Utf8SequenceLength(text, i, &cp);
      if (n == 0) return std::nullopt;
      i += n;
    }
    return text;
  }
  return ConvertWhole(page.IconvName, "UTF-8", text);
}

std::optional<std::string> ToUtf8(const CodePage& page, const std::string& text) {
  if (page.IsUtf8) return text;
  return ConvertWhole("UTF-8", page.IconvName, text);
}

std::string DisplayText(const CodePage& page, const std::string& text) {
  if (page.IsUtf8) return EscapeUtf8(text);
  Converter c("UTF-8", page.IconvName);
  if (!c.Valid()) return EscapeUtf8(text);
  std::string out;
  for (size_t at = 0; at < text.size();) {
    std::string part;
    size_t stop = c.Run(text, at, part);
    out += EscapeUtf8(part);
    if (stop < text.size()) {
      AppendEscapedByte(static_cast<unsigned char>(text[stop]), out);
      ++stop;
    }
    at = stop;
  }
  return out;
}

std::string DisplayPath(const std::string& text) { return EscapeUtf8(text); }

bool IsValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    uint32_t cp;
    size_t n = Utf8SequenceLength(text, i, &cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::optional<std::string> DecodedEntryName(const CodePage& page, const std::string& stored) {
  std::optional<std::string> utf8 = ToUtf8(page, stored);
  if (!utf8 || !IsValidUtf8(*utf8)) return std::nullopt;
  std::string name, part;
  for (size_t i = 0; i <= utf8->size(); ++i) {
    if (i == utf8->size() || (*utf8)[i] == '\\' || (*utf8)[i] == '/') {
      if (!part.empty() && part != ".") name += (name.empty() ? "" : "/") + part;
      part.clear();
    } else {
      part += (*utf8)[i];
    }
  }
  return name;
}
