// The option parser of the sfs tool: GNU-style options anywhere, values
// attached or separate, combined short flags, prefixes, "--", and the
// mistakes it reports.
#include <gtest/gtest.h>

#include "tools/sfs/CommandLine.h"

namespace zk::sfs {
namespace {

const std::vector<TOptionDef> Defs = {
    {'l', "long", false, "", ""},      {'R', "recursive", false, "", ""},
    {'p', "password", true, "P", ""},  {0, "password-file", true, "F", ""},
    {0, "compression", true, "M", ""}, {0, "raw", false, "", ""},
};

TParsedLine Parse(std::vector<std::string> Args) {
  return ParseCommandLine(Args, Defs);
}

TEST(CommandLine, OptionsAnywhereAndValuesInEveryForm) {
  const TParsedLine line =
      Parse({"doc", "-l", "--compression=2", "path", "--password", "s e", "-R", "--raw"});
  EXPECT_EQ(line.Arguments, (std::vector<std::string>{"doc", "path"}));
  EXPECT_TRUE(line.Has("long"));
  EXPECT_TRUE(line.Has("recursive"));
  EXPECT_TRUE(line.Has("raw"));
  EXPECT_EQ(line.Value("compression"), "2");
  EXPECT_EQ(line.Value("password"), "s e");
  EXPECT_FALSE(line.Has("password-file"));
  EXPECT_EQ(line.Value("password-file", "none"), "none");
}

TEST(CommandLine, ShortOptionsCombineAndTakeTheirValue) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Password;
  } const cases[] = {
      {{"-lRpX"}, "X"},       // flags, then a value in the same word
      {{"-lRp", "X"}, "X"},   // or in the next one
      {{"-p", "-l"}, "-l"},   // a value may look like an option
      {{"-p="}, "="},         // short values are taken literally
      {{"--password="}, ""},  // an empty long value
  };
  for (const TCase& c : cases) {
    const TParsedLine line = Parse(c.Args);
    EXPECT_EQ(line.Value("password", "?"), c.Password) << c.Args[0];
    EXPECT_TRUE(line.Arguments.empty()) << c.Args[0];
  }
  EXPECT_TRUE(Parse({"-lRpX"}).Has("long"));
  EXPECT_TRUE(Parse({"-lRpX"}).Has("recursive"));
}

TEST(CommandLine, DoubleDashEndsOptionsAndDashIsAnArgument) {
  const TParsedLine line = Parse({"-l", "--", "-R", "--raw", "-"});
  EXPECT_EQ(line.Arguments, (std::vector<std::string>{"-R", "--raw", "-"}));
  EXPECT_TRUE(line.Has("long"));
  EXPECT_FALSE(line.Has("recursive"));
  EXPECT_EQ(Parse({"-", "x"}).Arguments, (std::vector<std::string>{"-", "x"}));
}

TEST(CommandLine, UnambiguousPrefixesOfLongNames) {
  EXPECT_EQ(Parse({"--comp", "9"}).Value("compression"), "9");
  EXPECT_TRUE(Parse({"--rec"}).Has("recursive"));
  // "password" is itself a name: an exact name wins over a longer one.
  EXPECT_EQ(Parse({"--password", "a"}).Value("password"), "a");
  EXPECT_THROW(Parse({"--pass", "a"}), EUsageError);  // password or password-file
}

TEST(CommandLine, RepeatedOptionsKeepEveryValueAndTheLastCounts) {
  const TParsedLine line = Parse({"-pA", "--password=B"});
  EXPECT_EQ(line.Count("password"), 2);
  EXPECT_EQ(line.Value("password"), "B");
  EXPECT_EQ(line.Values("password"), (std::vector<std::string>{"A", "B"}));
}

TEST(CommandLine, MistakesAreUsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"}, {"-x"}, {"-lx"}, {"--raw=1"}, {"--password"}, {"-p"}, {"--compression"},
  };
  for (const auto& args : bad) EXPECT_THROW(Parse(args), EUsageError) << args[0];
}

TEST(CommandLine, CommandWordSkipsLeadingOptionsAndTheirValues) {
  const std::vector<TOptionDef> leading = {{'p', "password", true, "P", ""},
                                           {0, "compression", true, "M", ""}};
  using V = std::vector<std::string>;
  EXPECT_EQ(FindCommandWord(V{"ls", "doc"}, leading), 0);
  EXPECT_EQ(FindCommandWord(V{"-p", "secret", "ls", "doc"}, leading), 2);
  EXPECT_EQ(FindCommandWord(V{"-psecret", "ls"}, leading), 1);
  EXPECT_EQ(FindCommandWord(V{"--compression", "2", "put"}, leading), 2);
  EXPECT_EQ(FindCommandWord(V{"--compression=2", "put"}, leading), 1);
  EXPECT_EQ(FindCommandWord(V{"-l", "ls"}, leading), 1);
  EXPECT_EQ(FindCommandWord(V{"--", "ls"}, leading), 1);
  EXPECT_EQ(FindCommandWord(V{"--help"}, leading), -1);
  EXPECT_EQ(FindCommandWord(V{}, leading), -1);
}

TEST(CommandLine, HelpLinesAreAligned) {
  const std::string help = FormatOptionHelp(
      {{'p', "password", true, "P", "the password"}, {0, "raw", false, "", "raw bytes"}});
  EXPECT_EQ(help,
            "  -p, --password=P  the password\n"
            "      --raw         raw bytes\n");
}

}  // namespace
}  // namespace zk::sfs
