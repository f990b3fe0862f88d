// The command-line parser of the sfs tool: GNU-style options anywhere on the
// line (--opt=value and --opt value, unambiguous prefixes of long options,
// -xVALUE and -x VALUE, combined short flags such as -lR, "--" ends the
// options, a lone "-" is an argument). It owns nothing but the parsed copy of
// the arguments. Mistakes on the line raise EUsageError, which the tool turns
// into exit status 2.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zk::sfs {

// A mistake on the command line (exit status 2). The text is UTF-8.
class EUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One option a command accepts. Key is the name it is looked up by (the long
// name without dashes, or the short letter when there is no long name).
struct TOptionDef {
  char Short = 0;           // 0: no short form
  std::string Long;         // empty: no long form
  bool TakesValue = false;  // --opt VALUE / --opt=VALUE / -oVALUE / -o VALUE
  std::string ValueName;    // shown in the help text, e.g. "P"
  std::string Help;         // one line for the help text

  std::string Key() const { return Long.empty() ? std::string(1, Short) : Long; }
};

// The parsed line: the arguments that are not options, in order, and every
// option given (flags with an empty value), in order of appearance.
class TParsedLine {
 public:
  std::vector<std::string> Arguments;

  bool Has(std::string_view Key) const;
  int Count(std::string_view Key) const;
  // The last value given for Key, or Default.
  std::string Value(std::string_view Key, const std::string& Default = {}) const;
  const std::vector<std::string>& Values(std::string_view Key) const;

  void Add(const std::string& Key, std::string Value) { FOptions[Key].push_back(std::move(Value)); }

 private:
  std::map<std::string, std::vector<std::string>, std::less<>> FOptions;
};

// Parses Args (the program name not included) against Defs.
TParsedLine ParseCommandLine(const std::vector<std::string>& Args,
                             const std::vector<TOptionDef>& Defs);

// Finds the command word: the first argument that is neither an option nor
// the value of one of the value-taking options in Leading (the options that
// may come before the command). Returns its index, or -1 when there is none.
int FindCommandWord(const std::vector<std::string>& Args, const std::vector<TOptionDef>& Leading);

// The help lines of Defs: "  -p, --password=P   text", aligned.
std::string FormatOptionHelp(const std::vector<TOptionDef>& Defs);

}  // namespace zk::sfs
