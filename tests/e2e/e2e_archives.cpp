// Builders of the distributables of the end-to-end tables.
#include "e2e_archives.h"

#include "e2e_case.h"
#include "test_bytes.h"

Bytes Distributable(CoreKind kind, ArchiveParts parts) {
  parts.Core = CoreBytes(kind);
  return BuildDistributable(parts);
}

FileEntryParts TokenFile(const std::string& name, const std::vector<Token>& tokens, int32_t size) {
  FileEntryParts file;
  file.Name = name;
  file.Creation = kCreationTime;
  file.LastAccess = kAccessTime;
  file.LastWrite = kWriteTime;
  file.FileSize = size;
  file.Data = EncodeTokens(tokens);
  return file;
}

FileEntryParts LiteralFile(const std::string& name, const std::string& text) {
  std::vector<Token> tokens;
  for (unsigned char c : text) tokens.push_back(LiteralToken(c));
  return TokenFile(name, tokens, static_cast<int32_t>(text.size()));
}

Bytes PayloadOf(const std::vector<EntryItem>& entries) {
  Bytes payload;
  for (const EntryItem& e : entries) {
    if (e.IsFolder) {
      AppendFolderEntry(payload, e.File.Name);
    } else {
      AppendFileEntry(payload, e.File);
    }
  }
  return payload;
}

Bytes Entries(CoreKind kind, const std::vector<EntryItem>& entries) {
  ArchiveParts parts;
  parts.Payload = PayloadOf(entries);
  return Distributable(kind, parts);
}

Bytes WithOriginalSize(Bytes file, uint32_t size) {
  for (int i = 0; i < 4; ++i) file[20480 + i] = static_cast<uint8_t>(size >> (8 * i));
  return file;
}

std::string Filler(size_t n, uint32_t seed) {
  std::vector<uint8_t> text = test_bytes::Text(n, seed);
  return std::string(text.begin(), text.end());
}
