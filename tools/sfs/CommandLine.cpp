#include "tools/sfs/CommandLine.h"

#include <algorithm>

namespace zk::sfs {

namespace {

const std::vector<std::string> NoValues;

// The option whose long name is Name, or else the only one it is a prefix of.
const TOptionDef* FindLong(std::string_view Name, const std::vector<TOptionDef>& Defs) {
  const TOptionDef* prefixMatch = nullptr;
  int prefixCount = 0;
  for (const TOptionDef& def : Defs) {
    if (def.Long.empty()) continue;
    if (def.Long == Name) return &def;
    if (def.Long.size() > Name.size() && def.Long.compare(0, Name.size(), Name) == 0) {
      // Two definitions may share a long name only when they are the same option.
      if (prefixMatch == nullptr || prefixMatch->Long != def.Long) ++prefixCount;
      prefixMatch = &def;
    }
  }
  if (prefixCount > 1) throw EUsageError("option '--" + std::string(Name) + "' is ambiguous");
  return prefixMatch;
}

const TOptionDef* FindShort(char Letter, const std::vector<TOptionDef>& Defs) {
  for (const TOptionDef& def : Defs)
    if (def.Short != 0 && def.Short == Letter) return &def;
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
                             const std::vector<TOptionDef>& Defs) {
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
      const TOptionDef* def = FindLong(name, Defs);
      if (def == nullptr) throw EUsageError("unknown option '--" + name + "'");
      if (!def->TakesValue) {
        if (eq != std::string::npos)
          throw EUsageError("option '--" + def->Long + "' takes no value");
        line.Add(def->Key(), {});
      } else if (eq != std::string::npos) {
        line.Add(def->Key(), arg.substr(eq + 1));
      } else {
        if (i + 1 >= Args.size()) throw EUsageError("option '--" + def->Long + "' needs a value");
        line.Add(def->Key(), Args[++i]);
      }
      continue;
    }
    // -abc: flags, the first value-taking letter takes the rest or the next word.
    for (size_t k = 1; k < arg.size(); ++k) {
      const TOptionDef* def = FindShort(arg[k], Defs);
      if (def == nullptr) throw EUsageError("unknown option '-" + std::string(1, arg[k]) + "'");
      if (!def->TakesValue) {
        line.Add(def->Key(), {});
        continue;
      }
      if (k + 1 < arg.size()) {
        line.Add(def->Key(), arg.substr(k + 1));
      } else {
        if (i + 1 >= Args.size())
          throw EUsageError("option '-" + std::string(1, arg[k]) + "' needs a value");
        line.Add(def->Key(), Args[++i]);
      }
      break;
    }
  }
  return line;
}

int FindCommandWord(const std::vector<std::string>& Args, const std::vector<TOptionDef>& Leading) {
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (arg == "--") return i + 1 < Args.size() ? static_cast<int>(i + 1) : -1;
    if (!IsOptionWord(arg)) return static_cast<int>(i);
    if (arg[1] == '-') {
      if (arg.find('=') != std::string::npos) continue;
      const TOptionDef* def = nullptr;
      try {
        def = FindLong(arg.substr(2), Leading);
      } catch (const EUsageError&) {
        def = nullptr;  // reported when the whole line is parsed
      }
      if (def != nullptr && def->TakesValue) ++i;
      continue;
    }
    for (size_t k = 1; k < arg.size(); ++k) {
      const TOptionDef* def = FindShort(arg[k], Leading);
      if (def == nullptr || !def->TakesValue) continue;
      if (k + 1 == arg.size()) ++i;
      break;
    }
  }
  return -1;
}

std::string FormatOptionHelp(const std::vector<TOptionDef>& Defs) {
  std::vector<std::string> heads;
  size_t width = 0;
  for (const TOptionDef& def : Defs) {
    std::string head = "  ";
    head += def.Short != 0 ? std::string("-") + def.Short : std::string("  ");
    if (!def.Long.empty()) {
      head += def.Short != 0 ? ", --" : "  --";
      head += def.Long;
      if (def.TakesValue) head += "=" + def.ValueName;
    } else if (def.TakesValue) {
      head += " " + def.ValueName;
    }
    width = std::max(width, head.size());
    heads.push_back(std::move(head));
  }
  std::string text;
  for (size_t i = 0; i < Defs.size(); ++i) {
    text += heads[i];
    text.append(width + 2 - heads[i].size(), ' ');
    text += Defs[i].Help;
    text += '\n';
  }
  return text;
}

}  // namespace zk::sfs
