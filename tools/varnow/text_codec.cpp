// The code pages of distributables, converted by the system (iconv on
// Linux), and the escaping of archive text for display. Code pages are
// named CP<number>; 65001 and UTF-8 mean the names are taken byte for byte.
#include "text_codec.h"

#include <stdio.h>

#include <cctype>

#include "host/host.h"

namespace {

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
    page.SystemName = "UTF-8";
    page.IsUtf8 = true;
    return page;
  }
  page.SystemName = IsAllDigits(upper) ? "CP" + upper : upper;
  if (!host::CodePageKnown(page.SystemName)) return std::nullopt;
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
  return host::FromUtf8To(page.SystemName, text);
}

std::optional<std::string> ToUtf8(const CodePage& page, const std::string& text) {
  if (page.IsUtf8) return text;
  std::string out;
  if (host::ToUtf8From(page.SystemName, text, 0, out) != text.size()) return std::nullopt;
  return out;
}

std::string DisplayText(const CodePage& page, const std::string& text) {
  if (page.IsUtf8) return EscapeUtf8(text);
  if (!host::CodePageKnown(page.SystemName)) return EscapeUtf8(text);
  std::string out;
  for (size_t at = 0; at < text.size();) {
    std::string part;
    size_t stop = host::ToUtf8From(page.SystemName, text, at, part);
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
