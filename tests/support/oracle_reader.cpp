// Both readers run inside the fake's exit, so that a refusal or a broken
// stream ends the read as it ends the expander; the body keeps nothing with
// a destructor of its own and writes only into the caller's result.
#include "oracle_reader.h"

#include "codec/oracle_codec.h"
#include "container/archive_header.h"
#include "entries/entry_steps.h"
#include "expander/expander_state.h"
#include "expander/program.h"
#include "fake_platform.h"

namespace {

OracleArchive* gArchive = nullptr;
OracleDecoder gDecoder;
char gComment[1 << 16];

void Collect(void* context, const uint8_t* data, int32_t count) {
  auto* into = static_cast<std::vector<uint8_t>*>(context);
  into->insert(into->end(), data, data + count);
}

uint64_t Time(const FileTime& t) { return (uint64_t{t.High} << 32) | t.Low; }

// Everything after the core image as OpenArchive reads it, less the banner
// and the comment shown; then the password gate and every entry.
int ReadBody() {
  ResetExpanderState();
  EntryLoopState& x = gState.Loop;
  BlockStream& s = x.Stream;
  s.ArchiveFile = SysOpenOwnFile();
  s.ArchiveSize = SysFileSize(s.ArchiveFile);
  ReadHeaderBytes(s, gState.CoreImage, kCoreSize);
  if (SizeRefused(CheckArchiveSize(s, gState.CoreImage, ReadOriginalSize(s)))) {
    gArchive->Error = "OriginalSize differs from the file size";
    return 1;
  }
  s.ConsumedCount = 0;
  if (!ReadHeaderString(s, gComment, sizeof gComment)) {
    gArchive->Error = "the comment is too long for the reader";
    return 1;
  }
  gArchive->Comment = gComment;
  if (!ReadHeaderString(s, gState.RunAfter, kRunAfterLimit)) {
    gArchive->Error = "the run-after command is too long";
    return 1;
  }
  gArchive->RunAfter = gState.RunAfter;
  ReadProtectionHeader(s);
  gArchive->IsProtected = s.IsProtected;
  PasswordGate();

  PrepareHistory(x.History, gState.CoreImage);
  do {
    ReadEntryName(x.Entries, x.Stream);
    OracleEntry& e = gArchive->Entries.emplace_back();
    e.Name.assign(x.Entries.EntryName, static_cast<size_t>(x.Entries.EntryNameLength));
    e.IsFolder = IsFolderEntry(x.Entries);
    if (e.IsFolder) continue;
    ReadFileEntryHeader(x);
    const EntryHeader& h = x.Entries.Header;
    e.Times[0] = Time(h.CreationTime);
    e.Times[1] = Time(h.LastAccessTime);
    e.Times[2] = Time(h.LastWriteTime);
    e.RefBack = h.StoredRefBack;
    e.PrefixLength = h.PrefixLength;
    e.Data.assign(PrefixBytes(x.History), PrefixBytes(x.History) + h.PrefixLength);
    CopyPrefix(x.History);
    x.Window.Sink = Collect;
    x.Window.SinkContext = &e.Data;
    LoadDictionary(x.History, x.Window);
    ResetOracleDecoder(gDecoder);
    OracleDecodeEntryData(gDecoder, x.Stream, x.Window, h.FileSize - h.PrefixLength);
    FinalFlush(x.Window);
    if (gDecoder.BytesDecoded != h.FileSize - h.PrefixLength) {
      gArchive->Error = e.Name + ": the last match runs past the end";
      return 2;
    }
    AdvanceSlot(x.History);
  } while (!x.Stream.EndOfArchive);
  return 0;
}

}  // namespace

OracleOutcome OracleDecodeData(const std::vector<uint8_t>& coded,
                               const std::vector<uint8_t>& dictionary, int32_t target) {
  // Three bytes follow the coded ones, so that reading past them shows as a
  // position rather than as the end of the archive.
  std::vector<uint8_t> payload = coded;
  payload.insert(payload.end(), {0x55, 0xAA, 0x55});
  DecoderInput input;
  input.File = EntryDataArchive(payload);
  input.Dictionary = dictionary;
  input.Target = target;
  input.ListSymbols = true;
  DecoderTrace trace = RunDecoder(true, input);
  OracleOutcome d;
  d.Symbols = std::move(trace.Symbols);
  d.End = static_cast<size_t>(trace.Consumed);
  d.Bytes = std::move(trace.Output);
  if (trace.ExitCode != 0) {
    d.Error = "stopped with exit code " + std::to_string(trace.ExitCode) + ": " + trace.Console;
  } else if (trace.Decoded != target) {
    d.Error = "decoded " + std::to_string(trace.Decoded) + " bytes of " + std::to_string(target) +
              ": the last match runs past the end";
  } else if (d.End > coded.size()) {
    d.Error = "the data ends inside a symbol";
  }
  d.Ok = d.Error.empty();
  return d;
}

OracleArchive OracleReadArchive(const std::vector<uint8_t>& file, const std::string& password) {
  OracleArchive a;
  ResetFake();
  Fake().OwnFile = file;
  Fake().Input = password + "\r";
  gArchive = &a;
  int code = RunInsideExit(ReadBody);
  gArchive = nullptr;
  a.Ok = code == 0;
  if (!a.Ok) a.Error += " (exit code " + std::to_string(code) + ") " + Fake().Output;
  return a;
}
