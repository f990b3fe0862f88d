#include "platform/os/Process.h"

namespace zk::os {

std::vector<AnsiString> SplitArguments(std::string_view text) {
  std::vector<AnsiString> args;
  size_t i = 0;
  const size_t n = text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (true) {
    while (i < n && blank(text[i])) ++i;
    if (i >= n) break;
    AnsiString arg;
    bool quoted = false;
    while (i < n && (quoted || !blank(text[i]))) {
      size_t next = CharNext(text, i);
      if (next == i + 2) {  // a double-byte character is copied whole
        arg.append(text.substr(i, 2));
        i = next;
        continue;
      }
      char c = text[i];
      if (c == '\\') {
        size_t count = 0;
        while (i < n && text[i] == '\\') ++count, ++i;
        if (i < n && text[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg.push_back('"');
            ++i;
          }
        } else {
          arg.append(count, '\\');
        }
      } else if (c == '"') {
        if (quoted && i + 1 < n && text[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg.push_back(c);
        ++i;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace zk::os
