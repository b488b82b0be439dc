// Distributables for the end-to-end tables: the running core's own bytes in
// front, entries whose data is either the known ABABABAB stream or coded by
// the test encoder, and the few byte-level edits the hostile rows need.
#pragma once

#include <string>
#include <vector>

#include "archive_builder.h"
#include "e2e_harness.h"
#include "token_stream.h"

// Shorter local names for the shared builder's two field records.
using ArchiveParts = ArchiveParts;
using FileEntryParts = FileEntryFields;

// Core, header and blocks, with the given core in front.
Bytes Distributable(CoreKind kind, ArchiveParts parts);
// A file entry holding the text, coded as literals, with the default times
// of the tables (creation, access and write all different).
FileEntryParts LiteralFile(const std::string& name, const std::string& text);
// A file entry decoded from the given tokens into a file of size bytes.
FileEntryParts TokenFile(const std::string& name, const std::vector<Token>& tokens, int32_t size);
// A payload of the given entries; a name ending in "\." is a folder entry.
struct EntryItem {
  FileEntryParts File;
  bool IsFolder = false;
};
inline EntryItem FileItem(FileEntryParts file) { return {std::move(file), false}; }
inline EntryItem FolderItem(const std::string& name) {
  EntryItem item;
  item.File.Name = name;
  item.IsFolder = true;
  return item;
}
Bytes PayloadOf(const std::vector<EntryItem>& entries);
// One distributable of these entries, no comment, no run-after, unprotected.
Bytes Entries(CoreKind kind, const std::vector<EntryItem>& entries);
// Stores a different OriginalSize.
Bytes WithOriginalSize(Bytes file, uint32_t size);
// A text of n printable bytes from the shared word generator.
std::string Filler(size_t n, uint32_t seed);
