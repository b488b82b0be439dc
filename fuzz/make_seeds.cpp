// Writes the seed corpora of the fuzz targets: small distributables made by
// hand with the test archive builders (well-formed ones and the hostile kinds
// the expander must refuse) and a few made by the writer, each prefixed with
// the parameter bytes its target reads first. Run once; the seeds are kept in
// fuzz/corpus/<target>/.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "writer/archive_writer.h"
#include "writer/file_encoder.h"

namespace {

namespace fs = std::filesystem;

void Save(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The expander target's input: mode, password, answers, fault, then the
// distributable without its core image.
Bytes ExpanderInput(uint8_t mode, const std::string& password, const Bytes& answers,
                    const Bytes& file) {
  Bytes in = {mode, static_cast<uint8_t>(password.size())};
  in.insert(in.end(), password.begin(), password.end());
  in.push_back(static_cast<uint8_t>(answers.size()));
  in.insert(in.end(), answers.begin(), answers.end());
  in.push_back(0);  // fault operation
  in.push_back(0);  // fault call
  in.insert(in.end(), file.begin() + 20480, file.end());
  return in;
}

Bytes Distributable(const Bytes& payload, const std::string& password = "",
                    const std::string& comment = "", const std::string& runAfter = "") {
  ArchiveParts parts;
  parts.Payload = payload;
  parts.Protected = !password.empty();
  parts.Password = password;
  parts.Comment = comment;
  parts.RunAfter = runAfter;
  return BuildDistributable(parts);
}

Bytes Text(int lines, int seed) {
  std::string s;
  for (int i = 0; i < lines; ++i) {
    s += "line " + std::to_string(i * seed % 97) + ": the quick brown fox " +
         std::to_string(i % 7) + "\n";
  }
  return Bytes(s.begin(), s.end());
}

void ExpanderSeeds(const fs::path& dir) {
  const uint8_t fixAll = 0x07;
  Bytes p;
  AppendFileEntry(p, AbabEntry("A.TXT"));
  Save(dir, "one_file", ExpanderInput(fixAll, "", {}, Distributable(p)));
  Save(dir, "one_file_exists", ExpanderInput(fixAll | 0x10, "", {0, 1}, Distributable(p)));

  Bytes multi;
  AppendFolderEntry(multi, "sub\\.");
  AppendFileEntry(multi, AbabEntry("sub\\B.TXT"));
  AppendFileEntry(multi, AbabEntry("*\x02"
                                   "C.TXT"));  // front-compressed: "sub\C.TXT"
  FileEntryFields same = AbabEntry("D.TXT");
  same.RefBack = 1;
  same.PrefixLength = 8;
  same.Data.clear();  // the whole file is its prefix
  AppendFileEntry(multi, same);
  AppendFileEntry(multi, AbabEntry("F\\G.TXT"));
  Save(dir, "folders_and_references",
       ExpanderInput(fixAll | 0x10, "", {1, 2}, Distributable(multi)));
  Save(dir, "protected",
       ExpanderInput(fixAll | 0x20, "pw", {}, Distributable(multi, "pw", "note\r\n", "setup")));

  // Kinds of hostile records, each of which must be refused cleanly.
  const std::vector<std::pair<std::string, std::string>> names = {
      {"parent", "..\\evil"}, {"absolute", "\\evil"}, {"slash_parent", "a/../../evil"},
      {"colon", "C:evil"},    {"stream", "a:b"},      {"dots_blanks", "x\\. .\\y"}};
  for (const auto& [label, name] : names) {
    Bytes h;
    AppendFileEntry(h, AbabEntry(name));
    Save(dir, "hostile_name_" + label, ExpanderInput(fixAll, "", {}, Distributable(h)));
  }
  FileEntryFields negative = AbabEntry("N.TXT");
  negative.FileSize = -8;
  FileEntryFields unfilled = AbabEntry("U.TXT");
  unfilled.RefBack = 5;
  FileEntryFields longPrefix = AbabEntry("P.TXT");
  longPrefix.RefBack = 1;
  longPrefix.PrefixLength = 9;  // more than FileSize
  FileEntryFields farDistance = AbabEntry("R.TXT");
  farDistance.FileSize = 20;
  farDistance.RefBack = 1;
  farDistance.PrefixLength = 0;
  const std::vector<std::pair<std::string, FileEntryFields>> headers = {
      {"negative_size", negative},
      {"unfilled_slot", unfilled},
      {"prefix_past_file", longPrefix},
      {"short_data", farDistance}};
  for (const auto& [label, entry] : headers) {
    Bytes h;
    AppendFileEntry(h, AbabEntry("OK.TXT"));
    AppendFileEntry(h, entry);
    Save(dir, "hostile_" + label, ExpanderInput(fixAll, "", {}, Distributable(h)));
  }

  // Made by the writer: text files that refer to each other, a folder, a password.
  Bytes core = TestCore();
  std::vector<Bytes> contents = {Text(40, 3), Text(40, 5), Text(60, 3), Bytes(3000, 'z')};
  std::vector<ArchiveEntry> entries;
  const char* const kNames[] = {"doc\\a.txt", "doc\\b.txt", "c.txt", "zeros.bin"};
  for (size_t i = 0; i < contents.size(); ++i) {
    ArchiveEntry e;
    e.Name = kNames[i];
    e.Data = contents[i];
    entries.push_back(e);
  }
  for (int variant = 0; variant < 3; ++variant) {
    PackOptions options;
    options.Threads = 1;
    options.Level = variant == 0 ? 1 : 9;
    if (variant == 2) options.Password = "secret";
    if (variant == 2) options.Comment = "made by the writer";
    Bytes out;
    PackResult r = WriteArchiveToVector(core, entries, options, out);
    if (!r.Ok) {
      std::fprintf(stderr, "writer refused: %s\n", r.Error.c_str());
      continue;
    }
    Save(dir, "writer_" + std::to_string(variant),
         ExpanderInput(fixAll, variant == 2 ? "secret" : "", {}, out));
  }
}

// The block stream target's input: mode, key, requests, fault call, stream bytes.
Bytes StreamInput(uint8_t mode, const std::string& key, uint16_t requests, const Bytes& stream) {
  Bytes in = {mode, static_cast<uint8_t>(key.size())};
  in.insert(in.end(), key.begin(), key.end());
  AppendLittle(in, requests, 2);
  in.push_back(1);
  in.insert(in.end(), stream.begin(), stream.end());
  return in;
}

void StreamSeeds(const fs::path& dir) {
  Bytes payload(5000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 + i / 13);
  Save(dir, "two_blocks_all", StreamInput(0x02, "", 5000, BuildBlocks(payload, "")));
  Save(dir, "two_blocks_past_end", StreamInput(0x02, "", 5001, BuildBlocks(payload, "")));
  Save(dir, "protected", StreamInput(0x03, "abc", 4200, BuildBlocks(payload, "abc")));
  Bytes full(4096, 0x41);
  Save(dir, "one_full_block", StreamInput(0x02, "", 4097, BuildBlocks(full, "")));
  Save(dir, "short_read", StreamInput(0x06, "", 5000, BuildBlocks(payload, "")));
  Bytes damaged = BuildBlocks(payload, "");
  damaged[4100] ^= 1;
  Save(dir, "damaged_second_block", StreamInput(0x00, "", 5000, damaged));
  Save(dir, "empty", StreamInput(0x00, "", 1, {}));
  Save(dir, "zero_bytes", StreamInput(0x00, "", 1, {0, 0}));
}

// The decoder target's input: mode, target, dictionary length and offset, data.
Bytes DecoderInput(uint8_t mode, uint16_t target, uint16_t dictionaryLength, uint16_t offset,
                   const Bytes& data) {
  Bytes in = {mode};
  AppendLittle(in, target, 2);
  AppendLittle(in, dictionaryLength, 2);
  AppendLittle(in, offset, 2);
  in.insert(in.end(), data.begin(), data.end());
  return in;
}

void DecoderSeeds(const fs::path& dir) {
  Save(dir, "abab", DecoderInput(0, 8, 0, 0, kAbabData));
  Bytes core = TestCore();
  Bytes text = Text(200, 7);
  std::span<const uint8_t> none;
  Save(dir, "text_level1",
       DecoderInput(0, static_cast<uint16_t>(text.size()), 0, 0, EncodeFileData(none, text, 1)));
  Save(dir, "text_level9",
       DecoderInput(0, static_cast<uint16_t>(text.size()), 0, 0, EncodeFileData(none, text, 9)));
  // Data that repeats the dictionary: most of it comes as far matches.
  std::span<const uint8_t> dictionary(core.data() + 100, 16384);
  Bytes again(core.begin() + 2000, core.begin() + 6000);
  Save(dir, "dictionary_copy",
       DecoderInput(0, static_cast<uint16_t>(again.size()), 16384, 100,
                    EncodeFileData(dictionary, again, 6)));
  // Enough output for window flushes: 60000 bytes at a large target step.
  Bytes big = Text(1800, 11);
  big.resize(60000 * 1, 'q');
  Save(dir, "flushes",
       DecoderInput(0, static_cast<uint16_t>(big.size()), 0, 0, EncodeFileData(none, big, 4)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  fs::path root = argv[1];
  ExpanderSeeds(root / "expander");
  StreamSeeds(root / "block_stream");
  DecoderSeeds(root / "decoder");
  return 0;
}
