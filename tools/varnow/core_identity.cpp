// The embedded cores as the known ones, their names and fingerprints.
#include "core_identity.h"

#include <stdio.h>
#include <string.h>

#include <string_view>

#include "embedded_cores.h"
#include "password_input.h"
#include "text_codec.h"

namespace {

constexpr size_t kCoreBytes = 20480;

// The banner the core shows ("... Ver. 1.66"), read from its own bytes so
// that it names what the core really holds; empty when there is none.
std::string Banner(std::span<const uint8_t> core) {
  static constexpr char kMark[] = "Ver. ";
  const std::string_view bytes(reinterpret_cast<const char*>(core.data()), core.size());
  const size_t at = bytes.find(kMark);
  if (at == std::string_view::npos) return "";
  auto printable = [&](size_t i) { return bytes[i] >= 0x20 && bytes[i] < 0x7F; };
  size_t start = at, end = at;
  while (start > 0 && printable(start - 1)) --start;
  while (end < bytes.size() && printable(end)) ++end;
  return std::string(bytes.substr(start, end - start));
}

std::string Fingerprint(std::span<const uint8_t> core) {
  char text[64];
  snprintf(text, sizeof text, "%zu bytes, CRC-32 %08x", core.size(), Crc32Of(core));
  return text;
}

}  // namespace

const char* VarnowVersion() { return VARNOW_VERSION; }

uint32_t Crc32Of(std::span<const uint8_t> bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string VersionText() {
  const std::string version = VarnowVersion();
  auto line = [&](const char* file, std::span<const uint8_t> core) {
    return std::string(file) + ", " + Banner(core) + ", built with varnow " + version + " (" +
           Fingerprint(core) + ")";
  };
  std::span<const uint8_t> windows = EmbeddedWindowsCore();
  std::string text = "varnow " + version + "\nWindows core: ";
  text += windows.empty() ? "none (built without it)" : line("varnow-sfx.exe", windows);
  text += "\nLinux core:   " + line("varnow-sfx", EmbeddedLinuxCore());
  return text;
}

Status KnownCores(const std::string& givenPath, std::vector<uint8_t>& givenBytes,
                  std::vector<KnownCore>& cores) {
  cores.clear();
  const std::string version = VarnowVersion();
  if (!EmbeddedWindowsCore().empty())
    cores.push_back(
        {EmbeddedWindowsCore(), CoreKind::kWindows, "Windows core of varnow " + version});
  cores.push_back({EmbeddedLinuxCore(), CoreKind::kLinux, "Linux core of varnow " + version});
  if (givenPath.empty()) return Success();
  std::string bytes;
  Status s = ReadWholeFile(givenPath, bytes);
  if (!s.Ok()) return s;
  if (bytes.size() != kCoreBytes)
    return Refused(DisplayPath(givenPath) + ": has " + std::to_string(bytes.size()) +
                   " bytes; a core has exactly 20480");
  givenBytes.assign(bytes.begin(), bytes.end());
  // The given core comes first: it is what the user says the archive was made with.
  cores.insert(cores.begin(), {givenBytes, SniffCoreKind(givenBytes),
                               "the core given by --core " + DisplayPath(givenPath)});
  return Success();
}
