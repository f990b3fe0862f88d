// The sfs program: everything is in the tool's library (RunTool).
#include <string>
#include <vector>

#include "tools/sfs/Commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return zk::sfs::RunTool(args);
}
