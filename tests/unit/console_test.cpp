// The console's input operations on the fake, where only a carriage return
// ends an input line: read line, read answer character and wait for Enter,
// with CR LF, lone CR, lone LF, Ctrl-Z and the end of input.
#include "runtime/console.h"

#include <gtest/gtest.h>

#include "expander/expander_state.h"
#include "fake_platform.h"

namespace {

// Runs ops over input: L reads a line, A an answer character, W waits for
// Enter. Each result is the line, the answer (CR as "\r", end of input as
// "^Z") or "-" for a wait.
std::vector<std::string> Script(const std::string& input, const std::string& ops,
                                int32_t capacity = 64) {
  ResetFake();
  ResetExpanderState();
  Fake().Input = input;
  std::vector<std::string> results;
  std::vector<char> line(static_cast<size_t>(capacity));
  for (char op : ops) {
    if (op == 'L') {
      int32_t n = ReadLine(line.data(), capacity);
      results.push_back(n < 0 ? "<too long>" : std::string(line.data(), static_cast<size_t>(n)));
    } else if (op == 'A') {
      int32_t c = ReadAnswerChar();
      results.push_back(c == kEndOfInput ? "^Z" : std::string(1, static_cast<char>(c)));
    } else {
      WaitForEnter();
      results.push_back("-");
    }
  }
  return results;
}

struct ConsoleCase {
  const char* What;
  std::string Input;
  std::string Ops;
  std::vector<std::string> Results;
};

class ConsoleInputTest : public testing::TestWithParam<ConsoleCase> {};

TEST_P(ConsoleInputTest, ReadsAsTheConventionsSay) {
  const ConsoleCase& c = GetParam();
  EXPECT_EQ(Script(c.Input, c.Ops), c.Results) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsoleInputTest,
    testing::Values(
        ConsoleCase{"CR LF lines", "abc\r\ndef\r\n", "LLL", {"abc", "def", ""}},
        ConsoleCase{"lone CR ends a line", "abc\rdef\r", "LL", {"abc", "def"}},
        ConsoleCase{"lone LF is an ordinary character", "a\nb\nc\r\nd", "LL", {"a\nb\nc", "d"}},
        ConsoleCase{"only one LF after a CR belongs to it", "a\r\n\nb\r\n", "LL", {"a", "\nb"}},
        ConsoleCase{"empty lines", "\r\n\r\nx\r\n", "LLL", {"", "", "x"}},
        ConsoleCase{"CR CR is two lines", "a\r\rb", "LLL", {"a", "", "b"}},
        ConsoleCase{"no trimming of blanks", "  pass word \r\n", "L", {"  pass word "}},
        ConsoleCase{"Ctrl-Z ends the input for good",
                    "ab\x1a"
                    "cd\r\n",
                    "LLA",
                    {"ab", "", "^Z"}},
        ConsoleCase{"end of input is sticky", "", "LAAW", {"", "^Z", "^Z", "-"}},
        ConsoleCase{
            "answer takes the first character, drops the line", "yes\r\nno\r\n", "AA", {"y", "n"}},
        ConsoleCase{
            "empty answer line also drops the next line", "\r\nzzz\r\nN\r\n", "AA", {"\r", "N"}},
        ConsoleCase{"answer without line end at the end", "y", "AA", {"y", "^Z"}},
        ConsoleCase{"wait drops the rest of the line", "rest\r\nnext\r\n", "WL", {"-", "next"}},
        ConsoleCase{"wait on an empty line", "\r\nnext", "WL", {"-", "next"}},
        ConsoleCase{"wait does not stop at a lone LF", "a\nb\r\nc", "WL", {"-", "c"}}),
    [](const testing::TestParamInfo<ConsoleCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(ConsoleInput, LineLongerThanTheBufferIsConsumedWholeAndFlagged) {
  std::string longLine(100, 'x');
  EXPECT_EQ(Script(longLine + "\r\nnext\r\n", "LL", 64),
            (std::vector<std::string>{"<too long>", "next"}));
  // 63 characters and the zero fit exactly.
  std::string fits(63, 'y');
  EXPECT_EQ(Script(fits + "\r\n", "L", 64), (std::vector<std::string>{fits}));
  EXPECT_EQ(Script(fits + "z\r\n", "L", 64), (std::vector<std::string>{"<too long>"}));
}

TEST(ConsoleOutput, LinesEndWithCarriageReturnAndLineFeed) {
  ResetFake();
  WriteText("a");
  WriteLine("bc");
  EndLine();
  EXPECT_EQ(Fake().Output, "abc\r\n\r\n");
}

}  // namespace
