// Builders of test distributables, using the project's own Crc16.
#include "archive_builder.h"

#include "test_bytes.h"

#include "format/crc16.h"

Bytes TestCore() {
  Bytes core(20480);
  uint32_t x = 12345;
  for (auto& b : core) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return core;
}

namespace {

constexpr int32_t kPeHeaderAt = 0x80;
constexpr int32_t kOptionalHeaderAt = kPeHeaderAt + 24;

void PutLittle(Bytes& out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

Bytes PeTestCore(bool plus) {
  Bytes core = TestCore();
  core[0] = 'M';
  core[1] = 'Z';
  PutLittle(core, 0x3C, kPeHeaderAt, 4);
  PutLittle(core, kPeHeaderAt, 0x4550, 4);                      // "PE\0\0"
  PutLittle(core, kPeHeaderAt + 20, plus ? 240 : 224, 2);       // SizeOfOptionalHeader
  PutLittle(core, kOptionalHeaderAt, plus ? 0x20B : 0x10B, 2);  // magic
  const int32_t directory = kOptionalHeaderAt + (plus ? 112 : 96);
  PutLittle(core, directory - 4, 16, 4);  // NumberOfRvaAndSizes
  PutLittle(core, PeTestCheckSumAt(plus), 0, 4);
  PutLittle(core, PeTestCertificateEntryAt(plus), 0, 8);
  return core;
}

int32_t PeTestCheckSumAt(bool) { return kOptionalHeaderAt + 64; }
int32_t PeTestCertificateEntryAt(bool plus) { return kOptionalHeaderAt + (plus ? 112 : 96) + 32; }

void AppendCertificateTable(Bytes& file, int32_t checkSumAt, int32_t entryAt, uint32_t tableBytes) {
  while (file.size() % 8 != 0) file.push_back(0);
  PutLittle(file, size_t(entryAt), file.size(), 4);
  PutLittle(file, size_t(entryAt) + 4, tableBytes, 4);
  PutLittle(file, size_t(checkSumAt), 0x5A5A0000u + tableBytes, 4);
  Bytes table = test_bytes::Random(tableBytes, tableBytes);
  file.insert(file.end(), table.begin(), table.end());
}

void AppendLittle(Bytes& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes BuildBlocks(const Bytes& payload, const std::string& password) {
  Bytes out;
  size_t key = 0;
  for (size_t start = 0; start < payload.size(); start += 4096) {
    size_t n = std::min<size_t>(4096, payload.size() - start);
    Bytes plain(payload.begin() + start, payload.begin() + start + n);
    uint16_t check = Crc16Of(plain.data(), static_cast<int32_t>(n));
    for (uint8_t b : plain) {
      if (!password.empty()) {
        b ^= static_cast<uint8_t>(password[key]);
        key = (key + 1) % password.size();
      }
      out.push_back(b);
    }
    out.push_back(static_cast<uint8_t>(check >> 8));
    out.push_back(static_cast<uint8_t>(check));
  }
  return out;
}

Bytes BuildDistributable(const ArchiveParts& parts) {
  Bytes out = parts.Core;
  AppendLittle(out, 0, 4);
  out.insert(out.end(), parts.Comment.begin(), parts.Comment.end());
  out.push_back(0);
  out.insert(out.end(), parts.RunAfter.begin(), parts.RunAfter.end());
  out.push_back(0);
  if (parts.Protected) {
    uint16_t crc = Crc16Of(reinterpret_cast<const uint8_t*>(parts.Password.data()),
                           static_cast<int32_t>(parts.Password.size()));
    uint16_t word = crc ^ static_cast<uint16_t>(parts.Flag * 257);
    out.push_back(parts.Flag);
    AppendLittle(out, word, 2);
  } else {
    out.push_back(0);
  }
  Bytes blocks = BuildBlocks(parts.Payload, parts.Protected ? parts.Password : std::string());
  out.insert(out.end(), blocks.begin(), blocks.end());
  uint32_t size = static_cast<uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[20480 + i] = static_cast<uint8_t>(size >> (8 * i));
  return out;
}

FileEntryFields AbabEntry(const std::string& name) {
  FileEntryFields e;
  e.Name = name;
  e.FileSize = 8;
  e.Data = kAbabData;
  return e;
}

void AppendFileEntry(Bytes& payload, const FileEntryFields& e) {
  payload.insert(payload.end(), e.Name.begin(), e.Name.end());
  payload.push_back(0);
  AppendLittle(payload, e.Creation, 8);
  AppendLittle(payload, e.LastAccess, 8);
  AppendLittle(payload, e.LastWrite, 8);
  AppendLittle(payload, static_cast<uint32_t>(e.FileSize), 4);
  payload.push_back(e.RefBack);
  if (e.RefBack != 0) AppendLittle(payload, e.PrefixLength, 2);
  payload.insert(payload.end(), e.Data.begin(), e.Data.end());
}

void AppendFolderEntry(Bytes& payload, const std::string& name) {
  payload.insert(payload.end(), name.begin(), name.end());
  payload.push_back(0);
}

Bytes PayloadArchive(const Bytes& payload) {
  ArchiveParts parts;
  parts.Payload = payload;
  return BuildDistributable(parts);
}

std::string AsText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
