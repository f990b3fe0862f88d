// The run-time library's base exception class and the stream errors.
// Every exception class of the system derives from zk::Exception; its Message
// holds the text in the ANSI code page, exactly as the system words it.
#pragma once

#include <exception>
#include <string>

#include "platform/rtl/AnsiString.h"

namespace zk {

class Exception : public std::exception {
 public:
  explicit Exception(AnsiString message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }

  AnsiString Message;
};

// Raised by the stream classes (ReadBuffer, WriteBuffer, ...).
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// An error reported by the operating system: its code and its own text.
class EOSError : public Exception {
 public:
  EOSError(int code, AnsiString message) : Exception(std::move(message)), ErrorCode(code) {}
  int ErrorCode;
};

}  // namespace zk
