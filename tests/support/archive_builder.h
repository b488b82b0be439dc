// Small readable builders of distributables for tests: the header fields,
// the checked (and optionally scrambled) block stream, and entry records with
// data bytes given as they are stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A deterministic 20480-byte stand-in for a core program.
Bytes TestCore();

struct ArchiveParts {
  Bytes Core = TestCore();
  std::string Comment;
  std::string RunAfter;
  bool Protected = false;
  uint8_t Flag = 1;      // protection flag when protected
  std::string Password;  // scrambles the payload when protected
  Bytes Payload;         // the entry records
};

// TestCore with the headers of a Windows program in front: "MZ", the PE
// signature at 0x80, a PE32 (plus: PE32+) optional header with a data
// directory of 16 entries. Only the fields that locate the CheckSum and the
// certificate-table entry are set; the rest stays the test core's bytes.
Bytes PeTestCore(bool plus);
// Image offsets of that core's CheckSum and certificate-table entry.
int32_t PeTestCheckSumAt(bool plus);
int32_t PeTestCertificateEntryAt(bool plus);

// What signing does to a distributable of a PE core: zero bytes up to a
// multiple of 8, then a certificate table of tableBytes bytes (a fixed
// pattern), its offset and size written to the entry at entryAt and a new
// CheckSum to the field at checkSumAt.
void AppendCertificateTable(Bytes& file, int32_t checkSumAt, int32_t entryAt, uint32_t tableBytes);

// The blocks of a payload: 4096 data bytes each, scrambled with password (if
// not empty) from stream index 0, each followed by its check, high byte first.
Bytes BuildBlocks(const Bytes& payload, const std::string& password);
// Core, header and blocks, with OriginalSize set to the file's real size.
Bytes BuildDistributable(const ArchiveParts& parts);

struct FileEntryFields {
  std::string Name;  // stored bytes of the name (already front-compressed if wanted)
  uint64_t Creation = 0x01D0000000000000ull;
  uint64_t LastAccess = 0x01D0000000000000ull;
  uint64_t LastWrite = 0x01D0000000000000ull;
  int32_t FileSize = 0;
  uint8_t RefBack = 0;
  uint16_t PrefixLength = 0;
  Bytes Data;  // the compressed data as stored
};

// The five stored bytes AE 5D AC B3 0A: literal A, literal B, a match of six
// at distance 2, which decode with no dictionary to the eight bytes ABABABAB.
inline const Bytes kAbabData = {0xAE, 0x5D, 0xAC, 0xB3, 0x0A};
// A file entry of those eight bytes, without a reference, at the default times.
FileEntryFields AbabEntry(const std::string& name);

void AppendFileEntry(Bytes& payload, const FileEntryFields& entry);
void AppendFolderEntry(Bytes& payload, const std::string& name);
void AppendLittle(Bytes& out, uint64_t value, int bytes);

// What the expander prints first on the fake (lines end with CR LF there).
inline constexpr char kBannerLine[] =
    "*** Varnow Expander 32 Ver. 1.66 ***  by the Varnow team\r\n";
// An unprotected distributable without comment or run-after around payload.
Bytes PayloadArchive(const Bytes& payload);
std::string AsText(const Bytes& bytes);
