#include <cstdio>
#include <new>
#include <set>

#include "platform/rtl/Exception.h"
#include "tools/sfs/Commands.h"
#include "tools/sfs/Container.h"
#include "tools/sfs/ToolText.h"

#ifndef ZK_SFS_VERSION
#define ZK_SFS_VERSION "0"
#endif

namespace zk::sfs {

namespace {

const TOptionDef HelpOption{'h', "help", false, "", "show this help"};
const TOptionDef VersionOption{0, "version", false, "", "show the version"};

std::string GeneralHelp() {
  std::string text =
      "Usage: sfs COMMAND [OPTIONS] DOC [ARGUMENTS]\n"
      "\n"
      "Creates, inspects, reads, writes, repairs and re-keys single-file containers\n"
      "(project documents). Options may stand anywhere on the line; -- ends them.\n"
      "\n"
      "Commands:\n";
  for (const TCommand& command : AllCommands()) {
    std::string head = "  " + command.Name;
    head.append(head.size() < 12 ? 12 - head.size() : 1, ' ');
    text += head + command.Summary + "\n";
  }
  text +=
      "\n"
      "Options of every command that opens a container:\n" +
      FormatOptionHelp(OpenOptionSpecs()) +
      "\n"
      "Without a password an encrypted project document opens with its built-in\n"
      "password. Commands that only read never change the file.\n"
      "\n"
      "Compression methods: 0 stored, 1 zlib-fast, 2 zlib, 3 ppm, 4 ppm-best,\n"
      "5 zlib-best, 6 ppm-fast, 7 bzip2-fast, 8 bzip2, 9 bzip2-best.\n"
      "\n"
      "Exit status: 0 done, 1 failed, 2 a mistake on the command line.\n"
      "'sfs COMMAND --help' describes one command.\n";
  return text;
}

std::vector<TOptionDef> OptionsOf(const TCommand& Command) {
  std::vector<TOptionDef> defs = Command.Options;
  if (Command.OpensContainer)
    for (const TOptionDef& def : OpenOptionSpecs()) defs.push_back(def);
  defs.push_back(HelpOption);
  return defs;
}

std::string CommandHelp(const TCommand& Command) {
  return "Usage: sfs " + Command.Name + " " + Command.Synopsis + "\n\n" + Command.Description +
         "\n\nOptions:\n" + FormatOptionHelp(OptionsOf(Command));
}

const TCommand* FindCommand(const std::string& Name) {
  for (const TCommand& command : AllCommands())
    if (command.Name == Name) return &command;
  return nullptr;
}

// The value-taking options of all commands, for finding the command word
// when options stand in front of it.
std::vector<TOptionDef> LeadingOptions() {
  std::vector<TOptionDef> defs = OpenOptionSpecs();
  std::set<std::string> seen;
  for (const TCommand& command : AllCommands())
    for (const TOptionDef& def : command.Options)
      if (seen.insert(def.Key()).second) defs.push_back(def);
  return defs;
}

int Print(const std::string& Text) {
  std::fwrite(Text.data(), 1, Text.size(), stdout);
  return ExitOk;
}

}  // namespace

const std::vector<TCommand>& AllCommands() {
  static const std::vector<TCommand> commands = [] {
    std::vector<TCommand> list;
    AddInfoCommands(list);
    AddFileCommands(list);
    AddMaintenanceCommands(list);
    return list;
  }();
  return commands;
}

void ReportError(const std::string& Message) {
  std::fflush(stdout);
  std::string line = Message;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "sfs: %s\n", line.c_str());
}

int RunTool(const std::vector<std::string>& Args) {
  std::string commandName;
  try {
    const int at = FindCommandWord(Args, LeadingOptions());
    if (at < 0) {
      const TParsedLine line = ParseCommandLine(Args, {HelpOption, VersionOption});
      if (line.Has("version")) return Print("sfs " ZK_SFS_VERSION "\n");
      if (line.Has("help")) return Print(GeneralHelp());
      throw EUsageError("no command given (see 'sfs --help')");
    }
    std::vector<std::string> rest(Args.begin(), Args.begin() + at);
    rest.insert(rest.end(), Args.begin() + at + 1, Args.end());
    if (Args[static_cast<size_t>(at)] == "help") {
      const TParsedLine line = ParseCommandLine(rest, {HelpOption});
      if (line.Arguments.empty()) return Print(GeneralHelp());
      const TCommand* command = FindCommand(line.Arguments[0]);
      if (command == nullptr) throw EUsageError("unknown command '" + line.Arguments[0] + "'");
      return Print(CommandHelp(*command));
    }
    const TCommand* command = FindCommand(Args[static_cast<size_t>(at)]);
    if (command == nullptr)
      throw EUsageError("unknown command '" + Args[static_cast<size_t>(at)] +
                        "' (see 'sfs --help')");
    commandName = command->Name;
    const TParsedLine line = ParseCommandLine(rest, OptionsOf(*command));
    if (line.Has("help")) return Print(CommandHelp(*command));
    if (line.Arguments.size() < command->MinArguments)
      throw EUsageError("missing arguments: sfs " + command->Name + " " + command->Synopsis);
    if (line.Arguments.size() > command->MaxArguments)
      throw EUsageError("too many arguments: sfs " + command->Name + " " + command->Synopsis);
    const int status = command->Run(line);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      ReportError("write error on standard output");
      return ExitFailure;
    }
    return status;
  } catch (const EUsageError& e) {
    ReportError((commandName.empty() ? std::string() : commandName + ": ") + e.what() +
                (commandName.empty() ? "" : " (see 'sfs " + commandName + " --help')"));
    return ExitUsage;
  } catch (const ESfsError& e) {
    ReportError(e.what());
    return ExitFailure;
  } catch (const zk::Exception& e) {
    ReportError(ToDisplay(e.Message));
    return ExitFailure;
  } catch (const std::bad_alloc&) {
    ReportError("out of memory");
    return ExitFailure;
  } catch (const std::exception& e) {
    ReportError(e.what());
    return ExitFailure;
  }
}

}  // namespace zk::sfs
