#include "nivalto/hal/command_line_quoting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nivalto {
namespace {

// The Microsoft C runtime's splitting of the arguments after the program
// name, written from its documented rules: blanks and tabs separate
// arguments outside quotes; 2n backslashes before a quote give n backslashes
// and the quote opens or closes; 2n+1 give n backslashes and a literal quote;
// backslashes elsewhere are literal; "" inside quotes gives a literal quote.
std::vector<std::string> split_like_the_runtime(std::string_view line) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string argument;
    bool quoted = false;
    while (i < line.size()) {
      const char c = line[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        std::size_t count = 0;
        while (i < line.size() && line[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < line.size() && line[i] == '"') {
          argument.append(count / 2, '\\');
          if (count % 2 == 1) {
            argument += '"';
            ++i;
          }
        } else {
          argument.append(count, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          argument += '"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      argument += c;
      ++i;
    }
    arguments.push_back(argument);
  }
  return arguments;
}

const std::vector<std::string> AWKWARD = {"",
                                          "plain",
                                          "two words",
                                          "C:\\Program Files\\Nivalto\\framework",
                                          "C:\\Users\\Jean Dupont\\AppData\\Local\\Temp\\",
                                          "C:\\dir\\",
                                          "say \"hi\"",
                                          "\"",
                                          "\\\"",
                                          "a\\\\\"b",
                                          "back\\\\slashes\\\\",
                                          "tab\there",
                                          "line\nbreak",
                                          "vertical\vtab",
                                          "\\\\server\\share\\file.ps1",
                                          "été à Noël",
                                          " ",
                                          "\\",
                                          "\"\"",
                                          "end\\\\\\"};

TEST(CommandLineQuoting, SimpleArgumentsStayBare) {
  for (const std::string_view argument :
       {"-NoProfile", "Bypass", "2", "C:\\Temp\\a.ps1", "-Level"}) {
    EXPECT_EQ(quote_argument(argument), argument);
  }
}

TEST(CommandLineQuoting, ArgumentsThatNeedItAreQuoted) {
  EXPECT_EQ(quote_argument(""), "\"\"");
  EXPECT_EQ(quote_argument("a b"), "\"a b\"");
  EXPECT_EQ(quote_argument("say \"hi\""), "\"say \\\"hi\\\"\"");
  // Backslashes are doubled only before a quote or the closing quote.
  EXPECT_EQ(quote_argument("C:\\Mes Docs\\"), "\"C:\\Mes Docs\\\\\"");
  EXPECT_EQ(quote_argument("a\\\\\"b"), "\"a\\\\\\\\\\\"b\"");
  EXPECT_EQ(quote_argument("x\\y z"), "\"x\\y z\"");
}

TEST(CommandLineQuoting, EveryArgumentComesBackWholeFromTheRuntimeSplitting) {
  const std::string line = build_command_line("powershell.exe", AWKWARD);
  ASSERT_TRUE(line.starts_with("powershell.exe "));
  EXPECT_EQ(split_like_the_runtime(line.substr(std::string_view("powershell.exe").size())),
            AWKWARD);
}

TEST(CommandLineQuoting, ProgramWithBlanksIsQuoted) {
  EXPECT_EQ(build_command_line("C:\\Program Files\\x.exe", {"a", ""}),
            "\"C:\\Program Files\\x.exe\" a \"\"");
  EXPECT_EQ(build_command_line("powershell.exe", {}), "powershell.exe");
}

}  // namespace
}  // namespace nivalto
