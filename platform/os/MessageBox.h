// The message box and the handler of unhandled errors. On POSIX the box
// writes caption and text to stderr in UTF-8 (CR LF shown as LF) and, when a
// display is set and a dialog tool is installed, shows a dialog too; it
// returns to the caller, which then ends the program.
#pragma once

#include "platform/os/Service.h"
#include "platform/rtl/AnsiString.h"

namespace zk::os {

constexpr unsigned MB_OK = 0;
constexpr unsigned MB_ICONERROR = 16;

class IMessageBox {
 public:
  virtual ~IMessageBox() = default;
  // Caption and Text are ANSI.
  virtual void Show(const AnsiString& Text, const AnsiString& Caption, unsigned Flags) = 0;
  // Reports an error nobody caught: "ZKselector: " and the message.
  virtual void ShowUnhandledError(const AnsiString& Message) = 0;

  static IMessageBox& Default();
};

inline IMessageBox& MessageBox() {
  return TService<IMessageBox>::Get();
}

}  // namespace zk::os
