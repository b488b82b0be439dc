// The fake platform's services over FakeSystem. Handles are indexes into a
// table of open files; the own file is read-only, created files read-write.
#include "fake_platform.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "expander/expander_state.h"

const char kLineEnd[] = "\r\n";
const bool kLineFeedEndsInput = false;
const bool kColonIsSpecial = true;

namespace {

struct OpenFile {
  bool Open = false;
  bool Own = false;
  std::string Path;
  size_t Position = 0;
};

FakeSystem gFake;
std::vector<OpenFile> gHandles;
std::jmp_buf gExitJump;
bool gRunning = false;
int gExitCode = 0;

// Counts the call; true when this call is to fail (or be short).
FaultKind Faulted(FakeOp op) {
  int n = ++gFake.Calls[op];
  return gFake.FaultAt[op] == n ? gFake.Fault[op] : kFaultNone;
}

OpenFile* Lookup(FileHandle file) {
  if (file < 0 || static_cast<size_t>(file) >= gHandles.size() || !gHandles[file].Open) {
    return nullptr;
  }
  return &gHandles[file];
}

std::vector<uint8_t>* Contents(OpenFile& f) {
  if (f.Own) return &gFake.OwnFile;
  auto it = gFake.Items.find(f.Path);
  return it == gFake.Items.end() ? nullptr : &it->second.Data;
}

FileHandle NewHandle(bool own, const std::string& path) {
  gHandles.push_back(OpenFile{true, own, path, 0});
  ++gFake.OpenFiles;
  return static_cast<FileHandle>(gHandles.size() - 1);
}

int64_t DiskUsed() {
  int64_t used = 0;
  for (const auto& [name, item] : gFake.Items) used += static_cast<int64_t>(item.Data.size());
  return used;
}

}  // namespace

FakeSystem& Fake() { return gFake; }

void ResetFake() {
  gFake = FakeSystem{};
  gHandles.clear();
}

void InjectFault(FakeOp op, int nth, FaultKind kind) {
  gFake.FaultAt[op] = nth;
  gFake.Fault[op] = kind;
}

int RunInsideExit(int (*body)()) {
  gRunning = true;
  if (setjmp(gExitJump) == 0) {
    gExitCode = body();
  }
  gRunning = false;
  return gExitCode;
}

int RunExpander() { return RunInsideExit(ExpanderMain); }

FileHandle SysOpenOwnFile() {
  if (Faulted(kOpOpenOwn)) return kNoFile;
  return NewHandle(true, "");
}

int32_t SysReadFile(FileHandle file, void* buffer, int32_t count) {
  FaultKind fault = Faulted(kOpRead);
  OpenFile* f = Lookup(file);
  if (f == nullptr || fault == kFaultFail || count < 0) return -1;
  std::vector<uint8_t>* data = Contents(*f);
  if (data == nullptr) return -1;
  size_t left = f->Position < data->size() ? data->size() - f->Position : 0;
  size_t n = std::min(left, static_cast<size_t>(count));
  if (fault == kFaultShort && n > 0) n -= 1;
  if (n > 0) std::memcpy(buffer, data->data() + f->Position, n);
  f->Position += n;
  return static_cast<int32_t>(n);
}

int32_t SysReadAt(FileHandle file, int32_t offset, void* buffer, int32_t count) {
  FaultKind fault = Faulted(kOpReadAt);
  OpenFile* f = Lookup(file);
  if (f == nullptr || fault == kFaultFail || count < 0 || offset < 0) return -1;
  std::vector<uint8_t>* data = Contents(*f);
  if (data == nullptr) return -1;
  size_t at = static_cast<size_t>(offset);
  size_t left = at < data->size() ? data->size() - at : 0;
  size_t n = std::min(left, static_cast<size_t>(count));
  if (fault == kFaultShort && n > 0) n -= 1;
  if (n > 0) std::memcpy(buffer, data->data() + at, n);
  return static_cast<int32_t>(n);
}

int32_t SysWriteFile(FileHandle file, const void* data, int32_t count) {
  FaultKind fault = Faulted(kOpWrite);
  OpenFile* f = Lookup(file);
  if (f == nullptr || f->Own || fault == kFaultFail || count < 0) return -1;
  std::vector<uint8_t>* contents = Contents(*f);
  if (contents == nullptr) return -1;
  gFake.Writes.push_back({f->Path, count});
  int64_t n = count;
  if (fault == kFaultShort && n > 0) n -= 1;
  int64_t room = gFake.DiskLimit - DiskUsed();
  if (n > room) n = room > 0 ? room : 0;
  if (contents->size() < f->Position + n) contents->resize(f->Position + n);
  if (n > 0) std::memcpy(contents->data() + f->Position, data, static_cast<size_t>(n));
  f->Position += static_cast<size_t>(n);
  return static_cast<int32_t>(n);
}

int32_t SysFileSize(FileHandle file) {
  if (Faulted(kOpSize)) return -1;
  OpenFile* f = Lookup(file);
  std::vector<uint8_t>* data = f ? Contents(*f) : nullptr;
  return data ? static_cast<int32_t>(data->size()) : -1;
}

int32_t SysFilePosition(FileHandle file) {
  if (Faulted(kOpPosition)) return -1;
  OpenFile* f = Lookup(file);
  return f ? static_cast<int32_t>(f->Position) : -1;
}

bool SysCloseFile(FileHandle file) {
  FaultKind fault = Faulted(kOpClose);
  OpenFile* f = Lookup(file);
  if (f == nullptr) return false;
  // A failed close still releases the handle, as the system does.
  f->Open = false;
  --gFake.OpenFiles;
  return fault == kFaultNone;
}

bool SysDeleteFile(const char* name) {
  if (Faulted(kOpDelete)) return false;
  auto it = gFake.Items.find(name);
  if (it == gFake.Items.end() || it->second.IsFolder) return false;
  gFake.Items.erase(it);
  gFake.Deleted.push_back(name);
  return true;
}

// The folder part before the last backslash, found at character starts so that
// a double-byte character's trail byte 0x5C is not taken for one.
static std::string ParentOf(const std::string& name) {
  size_t cut = std::string::npos;
  for (const char* p = name.c_str(); *p != 0; p = SysNextChar(p)) {
    if (*p == '\\') cut = static_cast<size_t>(p - name.c_str());
  }
  return cut == std::string::npos ? std::string() : name.substr(0, cut);
}

FileHandle SysCreateFile(const char* name) {
  if (Faulted(kOpCreate)) return kNoFile;
  std::string path = name;
  std::string parent = ParentOf(path);
  if (path.empty() ||
      (!parent.empty() && !(gFake.Items.count(parent) && gFake.Items[parent].IsFolder))) {
    return kNoFile;
  }
  auto it = gFake.Items.find(path);
  // The system opens what a link names; a link to a link is not followed here.
  if (it != gFake.Items.end() && !it->second.LinkTarget.empty()) {
    path = it->second.LinkTarget;
    it = gFake.Items.find(path);
  }
  if (it != gFake.Items.end() && it->second.IsFolder) return kNoFile;
  gFake.Items[path] = FakeItem{};
  return NewHandle(false, path);
}

ItemKind SysFindItem(const char* name) {
  if (Faulted(kOpFind)) return kItemNone;
  auto it = gFake.Items.find(name);
  if (it == gFake.Items.end()) return kItemNone;
  if (!it->second.LinkTarget.empty()) return kItemLink;
  return it->second.IsFolder ? kItemFolder : kItemFile;
}

bool SysCreateFolder(const char* name) {
  if (Faulted(kOpCreateFolder)) return false;
  std::string path = name;
  std::string parent = ParentOf(path);
  if (path.empty() || gFake.Items.count(path)) return false;
  if (!parent.empty() && !(gFake.Items.count(parent) && gFake.Items[parent].IsFolder)) return false;
  gFake.Items[path].IsFolder = true;
  return true;
}

bool SysSetFileTimes(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                     const FileTime* lastWrite) {
  if (Faulted(kOpSetTimes)) return false;
  OpenFile* f = Lookup(file);
  if (f == nullptr || f->Own) return false;
  FakeItem& item = gFake.Items[f->Path];
  item.TimesSet = true;
  item.Creation = *creation;
  item.LastAccess = *lastAccess;
  item.LastWrite = *lastWrite;
  return true;
}

const char* SysNextChar(const char* text) {
  if (*text == 0) return text;
  auto lead = static_cast<uint8_t>(*text);
  bool isLead =
      gFake.DoubleByte && ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC));
  if (isLead && text[1] != 0) return text + 2;
  return text + 1;
}

bool SysOpenDocument(const char* text) {
  gFake.Launched.push_back(text);
  return gFake.LaunchSucceeds;
}

void SysConsoleWrite(const void* data, int32_t count) {
  gFake.Output.append(static_cast<const char*>(data), static_cast<size_t>(count));
  gFake.ConsoleWrites.emplace_back(static_cast<const char*>(data), static_cast<size_t>(count));
}

void SysConsoleWriteText(const void* data, int32_t count) { SysConsoleWrite(data, count); }

int32_t SysConsoleReadByte() {
  if (gFake.InputPosition >= gFake.Input.size()) return -1;
  return static_cast<uint8_t>(gFake.Input[gFake.InputPosition++]);
}

bool SysGetInputMode(uint32_t* mode) {
  if (!gFake.InputIsConsole) return false;
  *mode = gFake.InputMode;
  gFake.ModeCalls.push_back({false, *mode, gFake.Output.size(), gFake.InputPosition});
  return true;
}

bool SysSetInputMode(uint32_t mode) {
  gFake.ModeCalls.push_back({true, mode, gFake.Output.size(), gFake.InputPosition});
  if (gFake.ModeSetFails) return false;
  gFake.InputMode = mode;
  return true;
}

void SysExit(int32_t code) {
  if (!gRunning) std::abort();
  gExitCode = code;
  std::longjmp(gExitJump, 1);
}

int RunOnFake(const std::vector<uint8_t>& file, const std::string& input) {
  Fake().OwnFile = file;
  Fake().Input = input;
  Fake().InputPosition = 0;
  return RunExpander();
}
