// The size rule for signed distributables on the fake: a file longer than its
// recorded size expands only when the excess is exactly the certificate table
// that the core's own PE header points at (after zero padding to a multiple
// of 8); every other excess is refused as before. Also where the PE fields
// are found, for PE32 and PE32+, and that blocks are never read past the
// archive's end into the padding or the table.
#include <gtest/gtest.h>

#include <functional>

#include "archive_builder.h"
#include "fake_platform.h"
#include "format/signed_core.h"

namespace {

const std::string kFatalTail = "Press Enter key.\a\r\n";
const std::string kReadFailure = "File read error.\r\n" + kFatalTail;
const std::string kBroken = "This file is broken.\r\n" + kFatalTail;
const std::string kLarger =
    "This file is larger than original file.  This file might be infected with virus.  "
    "Cannot expand.  Press ENTER key.\a\r\n";
const std::string kExpandedE = "expanding : E ... end.\r\n";

Bytes EmptyEntryPayload() {
  Bytes payload;
  AppendFileEntry(payload, FileEntryFields{.Name = "E"});
  return payload;
}

// A distributable of the PE test core around payload, with a comment of
// commentBytes bytes.
Bytes PeArchive(bool plus, const Bytes& payload, size_t commentBytes = 0) {
  ArchiveParts parts;
  parts.Core = PeTestCore(plus);
  parts.Comment = std::string(commentBytes, 'c');
  parts.Payload = payload;
  return BuildDistributable(parts);
}

// The comment length (0 to 7) that makes signing pad the archive with
// exactly `padding` zero bytes.
size_t CommentFor(bool plus, const Bytes& payload, size_t padding) {
  const size_t bare = PeArchive(plus, payload).size();
  for (size_t n = 0; n < 8; ++n)
    if ((bare + n + padding) % 8 == 0) return n;
  return 0;
}

// What the core shows for a comment of n bytes and the one empty file E.
std::string ExpandedAfterComment(size_t n) {
  return (n == 0 ? std::string() : std::string(n, 'c') + "\r\n") + kExpandedE;
}

// Signed as signing tools do, with `padding` zero bytes before the table.
Bytes Signed(bool plus, const Bytes& payload, size_t padding = 3, uint32_t table = 1488) {
  Bytes file = PeArchive(plus, payload, CommentFor(plus, payload, padding));
  AppendCertificateTable(file, PeTestCheckSumAt(plus), PeTestCertificateEntryAt(plus), table);
  return file;
}

// Where the padding of a Signed file starts: the archive's recorded size.
size_t ArchiveEnd(bool plus, const Bytes& payload, size_t padding = 3) {
  return PeArchive(plus, payload, CommentFor(plus, payload, padding)).size();
}

void PutLittle32(Bytes& file, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t Little32(const Bytes& file, size_t at) {
  return file[at] | file[at + 1] << 8 | file[at + 2] << 16 | uint32_t(file[at + 3]) << 24;
}

// Folder entries of exactly `bytes` payload bytes (at least 16), so that the
// last block can be made full or one byte long.
Bytes FolderPayload(size_t bytes) {
  Bytes payload;
  for (size_t i = 0; bytes - payload.size() >= 16; ++i) {
    char name[16];
    snprintf(name, sizeof name, "f%04zu\\.", i);  // 7 bytes and the zero
    AppendFolderEntry(payload, name);
  }
  // The rest in one name: "g", digits, "\." and the zero.
  const size_t rest = bytes - payload.size();
  AppendFolderEntry(payload, "g" + std::string(rest - 4, '7') + "\\.");
  return payload;
}

// What the core shows for Signed(plus, EmptyEntryPayload()) with padding 3.
std::string Shown3(bool plus) {
  return ExpandedAfterComment(CommentFor(plus, EmptyEntryPayload(), 3));
}

// The comment line of Signed(false, EmptyEntryPayload()), if any.
std::string ShownComment3() {
  const size_t n = CommentFor(false, EmptyEntryPayload(), 3);
  return n == 0 ? std::string() : std::string(n, 'c') + "\r\n";
}

struct SignedCase {
  const char* What;
  std::function<Bytes()> File;
  int Exit;
  std::string Output;  // after the banner; empty: not compared (many folders)
  std::function<void()> Setup = nullptr;
};

class SignedSizeTest : public testing::TestWithParam<SignedCase> {};

TEST_P(SignedSizeTest, AcceptsOnlyTheTable) {
  const SignedCase& c = GetParam();
  ResetFake();
  if (c.Setup) c.Setup();
  const Bytes file = c.File();
  EXPECT_EQ(RunOnFake(file), c.Exit) << c.What;
  if (!c.Output.empty()) EXPECT_EQ(Fake().Output, kBannerLine + c.Output) << c.What;
  EXPECT_EQ(Fake().OpenFiles, 0) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignedSizeTest,
    testing::Values(SignedCase{"unsigned PE core: expands as before",
                               [] { return PeArchive(false, EmptyEntryPayload()); }, 0, kExpandedE},
                    SignedCase{"PE32, padding of 3 zero bytes, table of 1488: expands",
                               [] { return Signed(false, EmptyEntryPayload()); }, 0, Shown3(false)},
                    SignedCase{"PE32+: expands", [] { return Signed(true, EmptyEntryPayload()); },
                               0, Shown3(true)},
                    SignedCase{"archive ends on a multiple of 8, no padding: expands",
                               [] { return Signed(false, EmptyEntryPayload(), 0); }, 0,
                               ExpandedAfterComment(CommentFor(false, EmptyEntryPayload(), 0))},
                    SignedCase{"a table of 8 bytes: expands",
                               [] { return Signed(false, EmptyEntryPayload(), 3, 8); }, 0,
                               Shown3(false)},
                    SignedCase{"last block full (4096 data bytes), then the table: expands",
                               [] { return Signed(false, FolderPayload(4096)); }, 0, ""},
                    SignedCase{"last block of one data byte, then the table: expands",
                               [] { return Signed(false, FolderPayload(4097)); }, 0, ""},
                    SignedCase{"signed, then one byte more: refused",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 file.push_back(0);
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"signed, the last table byte cut off: refused",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 file.pop_back();
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"entry points 8 bytes further: refused",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 const size_t at = size_t(PeTestCertificateEntryAt(false));
                                 PutLittle32(file, at, Little32(file, at) + 8);
                                 PutLittle32(file, at + 4, 1488 - 8);
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"entry points at the archive's end, not rounded up: refused",
                               [] {
                                 const size_t end = ArchiveEnd(false, EmptyEntryPayload());
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 const size_t at = size_t(PeTestCertificateEntryAt(false));
                                 PutLittle32(file, at, uint32_t(end));
                                 PutLittle32(file, at + 4, uint32_t(file.size() - end));
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"entry points 8 bytes before the rounded-up end: refused",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 const size_t at = size_t(PeTestCertificateEntryAt(false));
                                 PutLittle32(file, at, Little32(file, at) - 8);
                                 PutLittle32(file, at + 4, 1488 + 8);
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"a non-zero padding byte: refused",
                               [] {
                                 const size_t end = ArchiveEnd(false, EmptyEntryPayload());
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 file[end + 1] = 1;
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"an empty table (size 0) after the padding: refused",
                               [] { return Signed(false, EmptyEntryPayload(), 3, 0); }, 1, kLarger},
                    SignedCase{"the entry's size runs past 2^32 with its offset: refused",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 PutLittle32(file, size_t(PeTestCertificateEntryAt(false)) + 4,
                                             0xFFFFFFF8u);
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"no PE core (the plain test core) with a table: refused",
                               [] {
                                 Bytes file = PayloadArchive(EmptyEntryPayload());
                                 AppendCertificateTable(file, PeTestCheckSumAt(false),
                                                        PeTestCertificateEntryAt(false), 64);
                                 file[0] = 'N';  // no "MZ"
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"a data directory of 4 entries has no certificate entry: refused",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 PutLittle32(file, 0x80 + 24 + 92, 4);
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"an optional header too short for the entry: refused",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 file[0x80 + 20] = 96 + 32;
                                 file[0x80 + 21] = 0;
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"the PE header placed past the image: refused",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 PutLittle32(file, 0x3C, 20480 - 100);
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"an unknown optional header magic: refused",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 file[0x80 + 24] = 0x07;
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"a recorded size inside the core cannot be signed: refused",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 PutLittle32(file, 20480, 20000);
                                 return file;
                               },
                               1, kLarger},
                    SignedCase{"the padding cannot be read: a read error",
                               [] { return Signed(false, EmptyEntryPayload()); }, 2, kReadFailure,
                               [] { InjectFault(kOpReadAt, 1); }},
                    SignedCase{"a damaged block in a signed file: broken, as before",
                               [] {
                                 Bytes file = Signed(false, EmptyEntryPayload());
                                 // The last data byte of the only block, before its check.
                                 file[ArchiveEnd(false, EmptyEntryPayload()) - 3] ^= 0x40;
                                 return file;
                               },
                               2, ShownComment3() + kBroken}),
    [](const testing::TestParamInfo<SignedCase>& info) {
      return "Case" + std::to_string(info.index);
    });

// The fields are found through the headers, at the places the PE layout
// gives, and nowhere else.
TEST(SignedFieldsTest, FindsBothFieldsInPe32AndPe32Plus) {
  for (bool plus : {false, true}) {
    const Bytes core = PeTestCore(plus);
    const SignedFields f = FindSignedFields(core.data());
    EXPECT_EQ(f.CheckSum, 0x80 + 24 + 64) << plus;
    EXPECT_EQ(f.CertificateEntry, 0x80 + 24 + (plus ? 112 : 96) + 32) << plus;
  }
  const Bytes plain = TestCore();
  EXPECT_EQ(FindSignedFields(plain.data()).CheckSum, 0);
}

// Every padding length from 0 to 7 (with comments of every length from 0 to
// 7 in front): the padding is read once, at its offset, without moving the
// stream, so the comment and everything after it are read from where they
// were; and each padding byte, made non-zero, gets the file refused.
TEST(SignedFieldsTest, EveryPaddingLength) {
  const Bytes payload = EmptyEntryPayload();
  for (size_t padding = 0; padding < 8; ++padding) {
    SCOPED_TRACE("padding " + std::to_string(padding));
    ResetFake();
    const Bytes file = Signed(false, payload, padding);
    const size_t end = ArchiveEnd(false, payload, padding);
    ASSERT_EQ(file.size(), end + padding + 1488);
    EXPECT_EQ(RunOnFake(file), 0);
    EXPECT_EQ(Fake().Calls[kOpReadAt], 1);
    EXPECT_EQ(Fake().Output,
              kBannerLine + ExpandedAfterComment(CommentFor(false, payload, padding)));
    for (size_t k = 0; k < padding; ++k) {
      ResetFake();
      Bytes dirty = file;
      dirty[end + k] = 0x80;
      EXPECT_EQ(RunOnFake(dirty), 1) << "padding byte " << k;
      EXPECT_EQ(Fake().Output, kBannerLine + kLarger) << "padding byte " << k;
    }
  }
}

}  // namespace
