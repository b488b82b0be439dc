// Reading entry records. Names are front-compressed against the previous name
// and bounded; a name that could reach outside the current folder (absolute,
// a ".." component, a drive or stream colon where the system has them) or an
// empty file name marks a broken archive before anything of the entry is made.
#include "entries/entry_records.h"

#include "runtime/stop.h"

void ReadEntryName(EntryState& e, BlockStream& s) {
  int32_t length = 0;
  uint8_t b = NextArchiveByte(s);
  if (b == kSharedNameMark) {
    int32_t shared = NextArchiveByte(s) + 2;
    if (shared > e.PreviousNameLength) shared = e.PreviousNameLength;
    __builtin_memcpy(e.EntryName, e.PreviousName, static_cast<uint32_t>(shared));
    length = shared;
    b = NextArchiveByte(s);
  }
  while (b != 0) {
    if (length >= kNameLimit - 1) BrokenError(kStopNameTooLong);
    e.EntryName[length++] = static_cast<char>(b);
    b = NextArchiveByte(s);
  }
  e.EntryName[length] = 0;
  e.EntryNameLength = length;
  __builtin_memcpy(e.PreviousName, e.EntryName, static_cast<uint32_t>(length + 1));
  e.PreviousNameLength = length;
  if (!IsSafeNameFor(e.EntryName, length, e.WindowsNames)) BrokenError(kStopUnsafeName);
}

bool IsFolderEntry(const EntryState& e) {
  return e.EntryNameLength >= 2 && e.EntryName[e.EntryNameLength - 2] == '\\' &&
         e.EntryName[e.EntryNameLength - 1] == '.';
}

// A component that names the parent folder. Windows also drops trailing dots
// and blanks from a component, so there ".. " and "..." count as well.
static bool IsParentComponent(const char* start, const char* end, bool windowsRules) {
  if (end - start == 2 && start[0] == '.' && start[1] == '.') return true;
  if (!windowsRules) return false;
  int32_t dots = 0;
  for (const char* p = start; p < end; ++p) {
    if (*p == '.') {
      ++dots;
    } else if (*p != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

bool IsSafeNameFor(const char* name, int32_t length, bool windowsRules) {
  if (length == 0) return false;
  if (name[0] == '\\' || name[0] == '/') return false;
  const char* end = name + length;
  const char* component = name;
  for (const char* p = name; p < end; p = SysNextChar(p)) {
    if (*p == ':' && windowsRules) return false;
    if (*p == '\\' || *p == '/') {
      if (IsParentComponent(component, p, windowsRules)) return false;
      component = p + 1;
    }
  }
  return !IsParentComponent(component, end, windowsRules);
}

static void ReadBytes(BlockStream& s, uint8_t* out, int32_t count) {
  for (int32_t i = 0; i < count; ++i) out[i] = NextArchiveByte(s);
}

void ReadFileHeader(EntryHeader& h, BlockStream& s) {
  uint8_t raw[kFileFieldsSize];
  ReadBytes(s, raw, kFileFieldsSize);
  h.CreationTime = {LittleEndian32(raw), LittleEndian32(raw + 4)};
  h.LastAccessTime = {LittleEndian32(raw + 8), LittleEndian32(raw + 12)};
  h.LastWriteTime = {LittleEndian32(raw + 16), LittleEndian32(raw + 20)};
  h.FileSize = static_cast<int32_t>(LittleEndian32(raw + 24));
  if (h.FileSize < 0) BrokenError(kStopNegativeSize);
  h.StoredRefBack = NextArchiveByte(s);
  h.RefBack = h.StoredRefBack;
  h.PrefixLength = 0;
  if (h.RefBack != 0) {
    h.PrefixLength = NextArchiveByte(s);
    h.PrefixLength |= NextArchiveByte(s) << 8;
  } else {
    h.RefBack = 1;
  }
}
