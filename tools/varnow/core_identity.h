// Which core a distributable starts with: the first 20480 bytes compared with
// the cores this varnow carries (and one the user names with --core). The
// archive is bound to those bytes (history slot 0), so an altered core means
// files that draw on it decode wrong and the program may not run at all.
#pragma once

#include <stdint.h>
#include <string.h>

#include <span>
#include <string>
#include <vector>

#include "cli_status.h"
#include "format/signed_core.h"

enum class CoreKind { kWindows, kLinux, kUnknown };

struct KnownCore {
  std::span<const uint8_t> Bytes;  // exactly 20480
  CoreKind Kind = CoreKind::kUnknown;
  std::string Name;  // "Windows core of varnow 0.9.0", or "the core given by --core FILE"
};

// The tool's version, from the build.
const char* VarnowVersion();
// CRC-32 (as gzip and zip use it), to tell builds of a core apart in --version.
uint32_t Crc32Of(std::span<const uint8_t> bytes);
// The text of `varnow --version`: the tool and the two cores it carries.
std::string VersionText();

// The embedded cores, and the core in givenPath (empty: none) read into
// givenBytes, which must outlive the list. Refused when givenPath is not a core.
Status KnownCores(const std::string& givenPath, std::vector<uint8_t>& givenBytes,
                  std::vector<KnownCore>& cores);
// Platform by the file's first bytes, for a core that is not known. Inline:
// the reader's fuzz target builds the reader without the embedded cores.
inline CoreKind SniffCoreKind(std::span<const uint8_t> image) {
  if (image.size() >= 2 && memcmp(image.data(), "MZ", 2) == 0) return CoreKind::kWindows;
  if (image.size() >= 4 && memcmp(image.data(),
                                  "\x7f"
                                  "ELF",
                                  4) == 0)
    return CoreKind::kLinux;
  return CoreKind::kUnknown;
}
// The same core, but for the header fields that signing a Windows
// distributable rewrites (the CheckSum and the certificate-table entry),
// which no archive of this varnow draws on. Both are kCoreSize bytes.
inline bool SameCoreBytes(std::span<const uint8_t> known, const uint8_t* image) {
  const SignedFields f = FindSignedFields(known.data());
  if (f.CheckSum == 0) return memcmp(known.data(), image, known.size()) == 0;
  const int32_t stretches[3][2] = {{0, f.CheckSum},
                                   {f.CheckSum + kCheckSumBytes, f.CertificateEntry},
                                   {f.CertificateEntry + kCertificateEntryBytes, kCoreSize}};
  for (const auto& [from, to] : stretches)
    if (memcmp(known.data() + from, image + from, size_t(to - from)) != 0) return false;
  return true;
}
