// The password query: a caption, a prompt and a text the user edits, as the
// class library's input dialog offers it. On POSIX it is a prompt without echo
// on the controlling terminal (/dev/tty); the end of input cancels, and
// without a terminal the query is cancelled at once.
#pragma once

#include "platform/os/Service.h"
#include "platform/rtl/AnsiString.h"

namespace zk::os {

class IPasswordPrompt {
 public:
  virtual ~IPasswordPrompt() = default;
  // Shows Caption and Prompt (ANSI texts) and reads a password into Password
  // (ANSI). True when the input was confirmed; false when it was cancelled,
  // and Password is then left as it was.
  virtual bool Query(const AnsiString& Caption, const AnsiString& Prompt, AnsiString& Password) = 0;

  static IPasswordPrompt& Default();
};

inline IPasswordPrompt& PasswordPrompt() {
  return TService<IPasswordPrompt>::Get();
}

}  // namespace zk::os
