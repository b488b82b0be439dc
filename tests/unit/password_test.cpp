// The password gate on the fake: prompts, at most three tries, the Crc16 of
// the exact line against the check value, an empty line only for check value
// 0, the end of input, long lines, which line ends count, and the console's
// echo, off for each answer on a console only.
#include <gtest/gtest.h>

#include <cstdio>

#include "archive_builder.h"
#include "fake_platform.h"

namespace {

// A protected archive of one small file P whose content shows that the payload
// was unscrambled with the accepted password.
Bytes ProtectedArchive(const std::string& password, const std::string& comment = "",
                       uint8_t flag = 1) {
  ArchiveParts layout;
  layout.Protected = true;
  layout.Flag = flag;
  layout.Password = password;
  layout.Comment = comment;
  AppendFileEntry(
      layout.Payload,
      FileEntryFields{.Name = "P", .FileSize = 8, .Data = {0xAE, 0x5D, 0xAC, 0xB3, 0x0A}});
  return BuildDistributable(layout);
}

const std::string kPrompt = "Password : ";
const std::string kExpanded = "expanding : P ... end.\r\n";
const std::string kLong1000(1000, 'q');
const std::string kLong32767(32767, 'k');
const std::string kLong32768(32768, 'k');

struct GateCase {
  const char* What;
  std::string Password;  // the archive's
  std::string Input;
  int Exit;
  int Prompts;
  size_t InputConsumed;  // bytes of standard input read
};

class PasswordGateTest : public testing::TestWithParam<GateCase> {};

TEST_P(PasswordGateTest, AsksAtMostThreeTimes) {
  const GateCase& c = GetParam();
  ResetFake();
  EXPECT_EQ(RunOnFake(ProtectedArchive(c.Password), c.Input), c.Exit) << c.What;
  std::string prompts;
  for (int i = 0; i < c.Prompts; ++i) prompts += kPrompt;
  EXPECT_EQ(Fake().Output, kBannerLine + prompts + (c.Exit == 0 ? kExpanded : "")) << c.What;
  EXPECT_EQ(Fake().InputPosition, c.InputConsumed) << c.What;
  if (c.Exit == 0) {
    ASSERT_TRUE(Fake().Items.count("P")) << c.What;
    EXPECT_EQ(AsText(Fake().Items["P"].Data), "ABABABAB") << c.What;
  } else {
    EXPECT_TRUE(Fake().Items.empty()) << c.What;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PasswordGateTest,
    testing::Values(
        GateCase{"right at once", "secret", "secret\r\n", 0, 1, 7},
        GateCase{"wrong then right", "secret", "guess\r\nsecret\r\n", 0, 2, 14},
        GateCase{"right at the third try", "secret", "a\r\nb\r\nsecret\r\n", 0, 3, 13},
        GateCase{"three wrong: stop right after the third line", "secret",
                 "a\r\nb\r\nc\r\nsecret\r\n", 1, 3, 8},
        GateCase{"case is not folded", "secret", "SECRET\r\nSecret\r\nsecreT\r\n", 1, 3, 23},
        GateCase{"a leading blank is kept", "secret", " secret\r\nsecret\r\n", 0, 2, 16},
        GateCase{"a trailing blank is kept", "secret", "secret \r\nsecret\r\n", 0, 2, 16},
        GateCase{"a password with blanks", " two words ", " two words \r\n", 0, 1, 12},
        GateCase{"empty line against a non-zero check value", "secret", "\r\n\r\n\r\n", 1, 3, 5},
        GateCase{"end of input: three tries at once", "secret", "", 1, 3, 0},
        GateCase{"end of input after one wrong line", "secret", "nope\r\n", 1, 3, 6},
        GateCase{"empty password: empty line accepted, payload as stored", "", "\r\n", 0, 1, 1},
        GateCase{"empty password: end of input is an empty line", "", "", 0, 1, 0},
        GateCase{"empty password: a non-empty line is wrong", "", "x\r\n\r\n", 0, 2, 4},
        GateCase{"a lone LF is part of the line", "ab\ncd", "ab\ncd\r\n", 0, 1, 6},
        GateCase{"a line ended by LF alone runs on", "ab", "ab\nab\r\nab\r\n", 0, 2, 10},
        GateCase{"a lone CR ends the line", "secret", "secret\r", 0, 1, 7},
        GateCase{"1000 characters read whole", kLong1000, kLong1000 + "\r\n", 0, 1, 1001},
        GateCase{"1000 characters, one missing", kLong1000, kLong1000.substr(1) + "\r\n", 1, 3,
                 1001},
        GateCase{"32767 characters are kept", kLong32767, kLong32767 + "\r\n", 0, 1, 32768},
        GateCase{"32768 characters are a wrong answer", kLong32768,
                 kLong32768 + "\r\n" + kLong32768 + "\r\n" + kLong32768 + "\r\n", 1, 3,
                 3 * 32769 + 2}),
    [](const testing::TestParamInfo<GateCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(PasswordGate, UnprotectedArchiveAsksNothing) {
  ResetFake();
  ArchiveParts layout;
  AppendFileEntry(layout.Payload, FileEntryFields{.Name = "P"});
  EXPECT_EQ(RunOnFake(BuildDistributable(layout), "secret\r\n"), 0);
  EXPECT_EQ(Fake().Output, kBannerLine + kExpanded);
  EXPECT_EQ(Fake().InputPosition, 0u);
}

TEST(PasswordGate, CommentComesBeforeTheFirstPrompt) {
  ResetFake();
  EXPECT_EQ(RunOnFake(ProtectedArchive("pw", "Read me"), "x\r\n"), 1);
  EXPECT_EQ(Fake().Output, kBannerLine + std::string("Read me\r\n") + kPrompt + kPrompt + kPrompt);
}

TEST(PasswordGate, AnyFlagValueProtects) {
  for (uint8_t flag : {1, 2, 0x80, 0xFF}) {
    ResetFake();
    EXPECT_EQ(RunOnFake(ProtectedArchive("pw", "", flag), "pw\r\n"), 0) << int(flag);
    EXPECT_EQ(Fake().Output, kBannerLine + kPrompt + kExpanded) << int(flag);
  }
}

// On a console each answer is typed with echo off: the mode is read once,
// echo goes off before each prompt and the mode read comes back right after
// the line, which the core then ends itself. With input from a file or a pipe
// (or a console that refuses the change) the console bytes stay as they were.
struct EchoCase {
  const char* What;
  bool Console, SetFails;
  std::string Input;
  int Exit;
  // Each mode call with the output and input positions where it happened.
  std::vector<std::string> Calls;
  std::string Output;     // after the banner
  uint32_t Mode = 0x1F7;  // the console's mode before the run
};

class EchoTest : public testing::TestWithParam<EchoCase> {};

TEST_P(EchoTest, EchoIsOffForEachAnswerOnly) {
  const EchoCase& c = GetParam();
  ResetFake();
  Fake().InputIsConsole = c.Console;
  Fake().ModeSetFails = c.SetFails;
  Fake().InputMode = c.Mode;
  ASSERT_EQ(RunOnFake(ProtectedArchive("secret"), c.Input), c.Exit) << c.What;
  EXPECT_EQ(Fake().Output, kBannerLine + c.Output) << c.What;
  std::vector<std::string> calls;
  const size_t banner = std::string(kBannerLine).size();
  for (const FakeModeCall& m : Fake().ModeCalls) {
    char text[64];
    snprintf(text, sizeof text, "%s %X at %zu, %zu", m.Set ? "set" : "get", m.Mode,
             m.OutputAt - banner, m.InputAt);
    calls.push_back(text);
  }
  EXPECT_EQ(calls, c.Calls) << c.What;
  EXPECT_EQ(Fake().InputMode, c.Mode) << c.What << ": the mode read is back";
}

// Output positions count from the banner's end: a prompt is 11 bytes, CR LF 2.
INSTANTIATE_TEST_SUITE_P(
    Cases, EchoTest,
    testing::Values(
        EchoCase{"right at once",
                 true,
                 false,
                 "secret\r\n",
                 0,
                 {"get 1F7 at 0, 0", "set 1F3 at 0, 0", "set 1F7 at 11, 7"},
                 kPrompt + "\r\n" + kExpanded},
        EchoCase{"wrong, then end of input",
                 true,
                 false,
                 "x\r\n",
                 1,
                 {"get 1F7 at 0, 0", "set 1F3 at 0, 0", "set 1F7 at 11, 2", "set 1F3 at 13, 2",
                  "set 1F7 at 24, 3", "set 1F3 at 26, 3", "set 1F7 at 37, 3"},
                 kPrompt + "\r\n" + kPrompt + "\r\n" + kPrompt + "\r\n"},
        EchoCase{"a console that keeps its echo",
                 true,
                 true,
                 "x\r\nsecret\r\n",
                 0,
                 {"get 1F7 at 0, 0", "set 1F3 at 0, 0", "set 1F3 at 11, 2"},
                 kPrompt + kPrompt + kExpanded},
        EchoCase{"a console whose echo is off already",
                 true,
                 false,
                 "x\r\nsecret\r\n",
                 0,
                 {"get 1F3 at 0, 0"},
                 kPrompt + kPrompt + kExpanded,
                 0x1F3},
        EchoCase{
            "piped input", false, false, "x\r\nsecret\r\n", 0, {}, kPrompt + kPrompt + kExpanded}),
    [](const testing::TestParamInfo<EchoCase>& info) {
      return "Case" + std::to_string(info.index);
    });

}  // namespace
