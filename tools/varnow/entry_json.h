// `varnow list --json`: the header and entries of a distributable as JSON
// values. Strings are valid UTF-8: a name as stored (code page bytes) gives
// each byte as the character of the same number, and text that cannot be
// decoded is null. Times are ISO 8601 in UTC.
#pragma once

#include <stdint.h>

#include <string>

#include "archive_reader.h"
#include "text_codec.h"

// A JSON string literal of UTF-8 text (escaped), or null when it is not UTF-8.
std::string JsonString(const std::string& utf8);
// "2024-05-01T12:00:00Z", with ".fffffff" before the Z when there are 100-ns parts.
std::string IsoTime(const FileTime& time);
// One entry's object.
std::string EntryJson(const EntryRecord& record, const CodePage& page);
// The header's fields as "key": value pairs (no braces), for the archive's object.
std::string HeaderJsonFields(const ArchiveInfo& info, const CodePage& page);

// What list says of a signature: "certificate table of N bytes (not verified
// here)"; empty for a file that is not signed.
std::string SignatureText(const ArchiveInfo& info);

// The ratio as pack and list state it: the archive after the core against the input.
std::string RatioText(uint64_t inputBytes, uint64_t distributableBytes);
