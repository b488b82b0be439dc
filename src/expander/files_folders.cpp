// Folders, the overwrite question and the output file. Folder separators are
// backslashes found at character starts, so a trail byte is never taken for
// one. A folder that cannot be made ends the run at once with exit code 2.
#include "expander/files_folders.h"

#include "expander/expander_state.h"
#include "runtime/console.h"
#include "runtime/messages.h"
#include "runtime/stop.h"

static char gFolderPath[kNameLimit];  // the prefix being looked up or made

int32_t FolderPart(const char* name) {
  int32_t length = 0;
  for (const char* p = name; *p != 0; p = SysNextChar(p)) {
    if (*p == '\\') length = static_cast<int32_t>(p - name) + 1;
  }
  return length;
}

[[noreturn]] static void CannotMakeFolder(int32_t length) {
  WriteText(kCannotMakeFolder);
  WriteArchiveText(gFolderPath, length);
  WriteText("\a");
  EndLine();
  SysExit(kExitFailed);
}

void MakeFolders(const char* path, int32_t length) {
  int32_t p = 0;
  while (p < length) {
    while (p < length && path[p] != '\\') p = static_cast<int32_t>(SysNextChar(path + p) - path);
    if (p >= length) return;
    __builtin_memcpy(gFolderPath, path, static_cast<uint32_t>(p));
    gFolderPath[p] = 0;
    // A link is never a folder here: one planted in the destination could
    // lead the expansion elsewhere.
    ItemKind kind = SysFindItem(gFolderPath);
    if (kind == kItemFile || kind == kItemLink) CannotMakeFolder(p);
    if (kind == kItemNone && !SysCreateFolder(gFolderPath)) CannotMakeFolder(p);
    p = static_cast<int32_t>(SysNextChar(path + p) - path);
  }
}

static int32_t UpperCase(int32_t c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

void AskOverwrite() {
  EntryState& e = gState.Loop.Entries;
  e.Skipping = false;
  const ItemKind found = SysFindItem(e.EntryName);
  e.NameIsLink = found == kItemLink;
  if (found != kItemNone) {
    WriteArchiveText(e.EntryName, e.EntryNameLength);
    WriteText(kOverwriteQuestion);
    for (;;) {
      int32_t answer = UpperCase(ReadAnswerChar());
      // Nothing is replaced without consent: the end of input answers N.
      if (answer == kEndOfInput || answer == 'N') {
        e.Skipping = true;
        break;
      }
      if (answer == 'Y') break;
    }
  }
  if (e.Skipping) {
    WriteText(kSkippingLabel);
    WriteArchiveText(e.EntryName, e.EntryNameLength);
    EndLine();
  } else {
    WriteText(kExpandingLabel);
    WriteArchiveText(e.EntryName, e.EntryNameLength);
    WriteText(kExpandingTail);
  }
}

void WriteOutputFile(void*, const uint8_t* data, int32_t count) {
  if (SysWriteFile(gState.OutputFile, data, count) != count) WriteError(kStopWriteFailed);
}

void CreateOutputFile(const uint8_t* prefix, int32_t prefixLength) {
  // Consent to replace a link does not let the file be written through it.
  if (gState.Loop.Entries.NameIsLink) WriteError(kStopWriteThroughLink);
  gState.OutputFile = SysCreateFile(gState.Loop.Entries.EntryName);
  if (gState.OutputFile == kNoFile) WriteError(kStopWriteFailed);
  if (prefixLength > 0) WriteOutputFile(nullptr, prefix, prefixLength);
}

void FinishOutputFile() {
  FinalFlush(gState.Loop.Window);
  const EntryHeader& h = gState.Loop.Entries.Header;
  if (!SysSetFileTimes(gState.OutputFile, &h.CreationTime, &h.LastAccessTime, &h.LastWriteTime)) {
    WriteError(kStopWriteFailed);
  }
  // A failed close leaves the handle in place, so the fatal stop deletes the file.
  if (!SysCloseFile(gState.OutputFile)) WriteError(kStopWriteFailed);
  gState.OutputFile = kNoFile;
  WriteLine(kEndMessage);
}
