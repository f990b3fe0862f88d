// The commands of the sfs tool: one table entry per command with its options,
// its help text and the function that runs it. The groups are defined in
// CommandsInfo.cpp (create, info, ls, product), CommandsFiles.cpp (put, cat,
// get, mkdir, rm, mv) and CommandsMaintenance.cpp (repair, passwd, verify).
// RunTool parses the line, runs one command and maps its outcome to the exit
// status: 0 done, 1 failed ("sfs: <message>" on standard error), 2 a mistake
// on the command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/sfs/CommandLine.h"

namespace zk::sfs {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

struct TCommand {
  std::string Name;
  std::string Synopsis;             // the arguments after the command name
  std::string Summary;              // one line for the command list
  std::string Description;          // the paragraph of "sfs COMMAND --help"
  std::vector<TOptionDef> Options;  // besides --help
  bool OpensContainer = true;       // takes -p/--password/--password-file
  size_t MinArguments = 1;
  size_t MaxArguments = 1;
  // Returns the exit status; raises EUsageError, ESfsError or the engine's errors.
  int (*Run)(const TParsedLine& Line) = nullptr;
};

void AddInfoCommands(std::vector<TCommand>& Commands);
void AddFileCommands(std::vector<TCommand>& Commands);
void AddMaintenanceCommands(std::vector<TCommand>& Commands);

// Every command in the order of the help text.
const std::vector<TCommand>& AllCommands();

// Prints "sfs: <Message>" on standard error (Message in UTF-8).
void ReportError(const std::string& Message);

// Runs the tool on Args (argv[1..]).
int RunTool(const std::vector<std::string>& Args);

}  // namespace zk::sfs
