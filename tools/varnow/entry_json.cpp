// JSON text built by hand: the values are few and flat, and escaping is
// the only subtle part.
#include "entry_json.h"

#include <stdio.h>

#include "file_times.h"

namespace {

constexpr uint64_t kCoreBytes = 20480;

std::string Escaped(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Each byte as the character of the same number (ISO 8859-1 to UTF-8).
std::string BytesAsCharacters(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string DecodedText(const CodePage& page, const std::string& stored) {
  std::optional<std::string> utf8 = ToUtf8(page, stored);
  return utf8 ? JsonString(*utf8) : "null";
}

}  // namespace

std::string JsonString(const std::string& utf8) {
  return IsValidUtf8(utf8) ? Escaped(utf8) : "null";
}

std::string IsoTime(const FileTime& time) {
  const uint64_t ticks = static_cast<uint64_t>(time.High) << 32 | time.Low;
  const std::string text = FormatFileTime(time, "%Y-%m-%dT%H:%M:%S");
  if (text == "?") return "null";
  std::string out = "\"" + text;
  if (ticks % 10000000 != 0) {
    char fraction[16];
    snprintf(fraction, sizeof fraction, ".%07llu",
             static_cast<unsigned long long>(ticks % 10000000));
    out += fraction;
  }
  return out + "Z\"";
}

std::string EntryJson(const EntryRecord& r, const CodePage& page) {
  std::optional<std::string> name = DecodedEntryName(page, r.Name);
  std::string out = "{\"kind\": ";
  out += r.IsFolder ? "\"folder\"" : "\"file\"";
  out += ", \"stored_name\": " + Escaped(BytesAsCharacters(r.Name));
  out += ", \"name\": " + (name ? JsonString(*name) : "null");
  if (r.IsFolder) return out + "}";
  out += ", \"size\": " + std::to_string(r.FileSize);
  out += ", \"packed\": " + std::to_string(r.PackedBytes);
  out += ", \"record_bytes\": " + std::to_string(r.RecordBytes);
  out += ", \"reference\": " + std::to_string(r.StoredRefBack);
  out += ", \"reference_slot\": " + std::to_string(r.RefSlot);
  out += ", \"prefix\": " + std::to_string(r.PrefixLength);
  out += ", \"created\": " + IsoTime(r.Creation);
  out += ", \"last_access\": " + IsoTime(r.LastAccess);
  out += ", \"last_write\": " + IsoTime(r.LastWrite);
  return out + "}";
}

std::string HeaderJsonFields(const ArchiveInfo& info, const CodePage& page) {
  const char* kind = info.Core == CoreKind::kWindows ? "windows"
                     : info.Core == CoreKind::kLinux ? "linux"
                                                     : "unknown";
  std::string out = "\"path\": " + JsonString(info.Path);
  out += ", \"file_bytes\": " + std::to_string(info.FileBytes);
  out += ", \"size_field\": " + std::to_string(info.OriginalSize);
  out += ", \"core\": {\"platform\": \"" + std::string(kind) + "\", \"known\": ";
  out += info.CoreName.empty() ? "false, \"name\": null"
                               : "true, \"name\": " + JsonString(info.CoreName);
  out += "}";
  out += ", \"code_page\": " + JsonString(page.Name);
  out += ", \"comment\": " + DecodedText(page, info.Comment);
  out += ", \"run_after\": " + DecodedText(page, info.RunAfter);
  out += ", \"protected\": ";
  out += info.IsProtected ? "true" : "false";
  out += ", \"stream_offset\": " + std::to_string(info.StreamOffset);
  const std::string signature = SignatureText(info);
  out += ", \"signed\": " + (signature.empty() ? "null" : JsonString(signature));
  out += ", \"certificate_table_bytes\": " + std::to_string(info.CertificateBytes);
  return out;
}

std::string SignatureText(const ArchiveInfo& info) {
  if (info.CertificateBytes == 0) return "";
  return "certificate table of " + std::to_string(info.CertificateBytes) +
         " bytes (not verified here)";
}

std::string RatioText(uint64_t inputBytes, uint64_t distributableBytes) {
  const uint64_t archive = distributableBytes > kCoreBytes ? distributableBytes - kCoreBytes : 0;
  char text[160];
  if (inputBytes == 0) {
    snprintf(text, sizeof text, "0 bytes packed into %llu bytes plus the 20480-byte core",
             static_cast<unsigned long long>(archive));
  } else {
    snprintf(text, sizeof text,
             "%llu bytes packed into %llu bytes (%.1f%%) plus the 20480-byte core",
             static_cast<unsigned long long>(inputBytes), static_cast<unsigned long long>(archive),
             100.0 * static_cast<double>(archive) / static_cast<double>(inputBytes));
  }
  return text;
}
