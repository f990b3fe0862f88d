#include "tools/sfs/CommandLine.h"

#include <algorithm>

namespace zk::sfs {

namespace {

const std::vector<std::string> NoValues;

// The spec whose long name is Name, or else the only one it is a prefix of.
const TOptionSpec* FindLong(std::string_view Name, const std::vector<TOptionSpec>& Specs) {
  const TOptionSpec* prefixMatch = nullptr;
  int prefixCount = 0;
  for (const TOptionSpec& spec : Specs) {
    if (spec.Long.empty()) continue;
    if (spec.Long == Name) return &spec;
    if (spec.Long.size() > Name.size() && spec.Long.compare(0, Name.size(), Name) == 0) {
      // Two specs may share a long name only when they are the same option.
      if (prefixMatch == nullptr || prefixMatch->Long != spec.Long) ++prefixCount;
      prefixMatch = &spec;
    }
  }
  if (prefixCount > 1) throw EUsageError("option '--" + std::string(Name) + "' is ambiguous");
  return prefixMatch;
}

const TOptionSpec* FindShort(char Letter, const std::vector<TOptionSpec>& Specs) {
  for (const TOptionSpec& spec : Specs)
    if (spec.Short != 0 && spec.Short == Letter) return &spec;
  return nullptr;
}

bool IsOptionWord(const std::string& Arg) {
  return Arg.size() > 1 && Arg[0] == '-';
}

}  // namespace

bool TParsedLine::Has(std::string_view Key) const {
  return FOptions.find(Key) != FOptions.end();
}

int TParsedLine::Count(std::string_view Key) const {
  auto it = FOptions.find(Key);
  return it == FOptions.end() ? 0 : static_cast<int>(it->second.size());
}

std::string TParsedLine::Value(std::string_view Key, const std::string& Default) const {
  auto it = FOptions.find(Key);
  return it == FOptions.end() || it->second.empty() ? Default : it->second.back();
}

const std::vector<std::string>& TParsedLine::Values(std::string_view Key) const {
  auto it = FOptions.find(Key);
  return it == FOptions.end() ? NoValues : it->second;
}

TParsedLine ParseCommandLine(const std::vector<std::string>& Args,
                             const std::vector<TOptionSpec>& Specs) {
  TParsedLine line;
  bool optionsEnded = false;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (optionsEnded || !IsOptionWord(arg)) {
      line.Arguments.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg[1] == '-') {
      // --name, --name=value, --name value
      const size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      const TOptionSpec* spec = FindLong(name, Specs);
      if (spec == nullptr) throw EUsageError("unknown option '--" + name + "'");
      if (!spec->TakesValue) {
        if (eq != std::string::npos)
          throw EUsageError("option '--" + spec->Long + "' takes no value");
        line.Add(spec->Key(), {});
      } else if (eq != std::string::npos) {
        line.Add(spec->Key(), arg.substr(eq + 1));
      } else {
        if (i + 1 >= Args.size()) throw EUsageError("option '--" + spec->Long + "' needs a value");
        line.Add(spec->Key(), Args[++i]);
      }
      continue;
    }
    // -abc: flags, the first value-taking letter takes the rest or the next word.
    for (size_t k = 1; k < arg.size(); ++k) {
      const TOptionSpec* spec = FindShort(arg[k], Specs);
      if (spec == nullptr) throw EUsageError("unknown option '-" + std::string(1, arg[k]) + "'");
      if (!spec->TakesValue) {
        line.Add(spec->Key(), {});
        continue;
      }
      if (k + 1 < arg.size()) {
        line.Add(spec->Key(), arg.substr(k + 1));
      } else {
        if (i + 1 >= Args.size())
          throw EUsageError("option '-" + std::string(1, arg[k]) + "' needs a value");
        line.Add(spec->Key(), Args[++i]);
      }
      break;
    }
  }
  return line;
}

int FindCommandWord(const std::vector<std::string>& Args, const std::vector<TOptionSpec>& Leading) {
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (arg == "--") return i + 1 < Args.size() ? static_cast<int>(i + 1) : -1;
    if (!IsOptionWord(arg)) return static_cast<int>(i);
    if (arg[1] == '-') {
      if (arg.find('=') != std::string::npos) continue;
      const TOptionSpec* spec = nullptr;
      try {
        spec = FindLong(arg.substr(2), Leading);
      } catch (const EUsageError&) {
        spec = nullptr;  // reported when the whole line is parsed
      }
      if (spec != nullptr && spec->TakesValue) ++i;
      continue;
    }
    for (size_t k = 1; k < arg.size(); ++k) {
      const TOptionSpec* spec = FindShort(arg[k], Leading);
      if (spec == nullptr || !spec->TakesValue) continue;
      if (k + 1 == arg.size()) ++i;
      break;
    }
  }
  return -1;
}

std::string FormatOptionHelp(const std::vector<TOptionSpec>& Specs) {
  std::vector<std::string> heads;
  size_t width = 0;
  for (const TOptionSpec& spec : Specs) {
    std::string head = "  ";
    head += spec.Short != 0 ? std::string("-") + spec.Short : std::string("  ");
    if (!spec.Long.empty()) {
      head += spec.Short != 0 ? ", --" : "  --";
      head += spec.Long;
      if (spec.TakesValue) head += "=" + spec.ValueName;
    } else if (spec.TakesValue) {
      head += " " + spec.ValueName;
    }
    width = std::max(width, head.size());
    heads.push_back(std::move(head));
  }
  std::string text;
  for (size_t i = 0; i < Specs.size(); ++i) {
    text += heads[i];
    text.append(width + 2 - heads[i].size(), ' ');
    text += Specs[i].Help;
    text += '\n';
  }
  return text;
}

}  // namespace zk::sfs
