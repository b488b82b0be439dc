// The fuzz targets' shared helpers: input reading, archive repairs and the
// inside-the-folder check of created names.
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "format/crc16.h"

int (*gDirectBody)() = nullptr;

uint32_t InputReader::Little(int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
  return value;
}

Bytes InputReader::Take(size_t count) {
  size_t n = std::min(count, size_ - at_);
  Bytes out(data_ + at_, data_ + at_ + n);
  at_ += n;
  return out;
}

HeaderLayout FindHeader(const Bytes& file) {
  HeaderLayout layout;
  size_t at = 20480 + 4;
  for (int text = 0; text < 2; ++text) {
    while (at < file.size() && file[at] != 0) ++at;
    if (at >= file.size()) return layout;
    ++at;
  }
  if (at >= file.size()) return layout;
  layout.FlagOffset = at;
  layout.StreamStart = at + (file[at] != 0 ? 3 : 1);
  layout.Complete = layout.StreamStart <= file.size();
  return layout;
}

void FixOriginalSize(Bytes& file) {
  if (file.size() < 20484) return;
  auto size = static_cast<uint32_t>(file.size());
  for (int i = 0; i < 4; ++i) file[20480 + i] = static_cast<uint8_t>(size >> (8 * i));
}

void FixCheckWord(Bytes& file, const HeaderLayout& layout, const std::string& password) {
  if (!layout.Complete || file[layout.FlagOffset] == 0) return;
  uint16_t crc = Crc16Of(reinterpret_cast<const uint8_t*>(password.data()),
                         static_cast<int32_t>(password.size()));
  uint16_t word = crc ^ static_cast<uint16_t>(file[layout.FlagOffset] * 257);
  file[layout.FlagOffset + 1] = static_cast<uint8_t>(word);
  file[layout.FlagOffset + 2] = static_cast<uint8_t>(word >> 8);
}

void FixBlockChecks(Bytes& file, size_t streamStart, const std::string& key) {
  size_t keyAt = 0;
  for (size_t start = streamStart; start + 3 <= file.size(); start += 4098) {
    size_t n = std::min<size_t>(4098, file.size() - start) - 2;
    Bytes plain(file.begin() + start, file.begin() + start + n);
    for (uint8_t& b : plain) {
      if (key.empty()) break;
      b ^= static_cast<uint8_t>(key[keyAt]);
      keyAt = (keyAt + 1) % key.size();
    }
    uint16_t check = Crc16Of(plain.data(), static_cast<int32_t>(n));
    file[start + n] = static_cast<uint8_t>(check >> 8);
    file[start + n + 1] = static_cast<uint8_t>(check);
  }
}

static size_t CharLength(const std::string& name, size_t at, bool doubleByte) {
  auto lead = static_cast<uint8_t>(name[at]);
  bool isLead = doubleByte && ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC));
  return isLead && at + 1 < name.size() && name[at + 1] != 0 ? 2 : 1;
}

// Windows drops trailing dots and blanks, so a component of only dots and
// blanks with two dots or more names a parent folder there.
static bool NamesParent(const std::string& component) {
  int dots = 0;
  for (char c : component) {
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

bool StaysInside(const std::string& name, bool doubleByte) {
  if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
  std::string component;
  for (size_t at = 0; at < name.size();) {
    size_t n = CharLength(name, at, doubleByte);
    char c = name[at];
    if (n == 1 && c == ':') return false;
    if (n == 1 && (c == '\\' || c == '/')) {
      if (NamesParent(component)) return false;
      component.clear();
    } else {
      component.append(name, at, n);
    }
    at += n;
  }
  return !NamesParent(component);
}

void InvariantBroken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

Bytes RepairedDistributable(const Bytes& body, uint8_t mode, const std::string& password) {
  static const Bytes kCore = TestCore();
  Bytes file = kCore;
  file.insert(file.end(), body.begin(), body.end());
  if (mode & kRepairSize) FixOriginalSize(file);
  HeaderLayout layout = FindHeader(file);
  if (layout.Complete) {
    bool isProtected = file[layout.FlagOffset] != 0;
    if ((mode & kRepairPassword) && isProtected) FixCheckWord(file, layout, password);
    if (mode & kRepairChecks) FixBlockChecks(file, layout.StreamStart, isProtected ? password : "");
  }
  return file;
}
