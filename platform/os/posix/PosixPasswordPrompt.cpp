// The password query on POSIX: caption and prompt on the controlling terminal,
// the answer read with echo switched off. A line ending confirms; the end of
// input (or a read error) before it cancels; no terminal cancels.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/os/AnsiCodePage.h"
#include "platform/os/PasswordPrompt.h"
#include "platform/rtl/SecureMemory.h"

namespace zk::os {

namespace {

// The terminal device, closed on every way out.
class TTerminal {
 public:
  TTerminal() : FFd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~TTerminal() {
    if (FFd >= 0) ::close(FFd);
  }
  TTerminal(const TTerminal&) = delete;
  TTerminal& operator=(const TTerminal&) = delete;

  bool IsOpen() const { return FFd >= 0; }
  int Fd() const { return FFd; }

  void Put(const std::string& text) const {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(FFd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

 private:
  int FFd;
};

// Echo off while it lives; the old settings come back on every way out.
class TEchoOff {
 public:
  explicit TEchoOff(int fd) : FFd(fd) {
    if (::tcgetattr(fd, &FOld) == 0) {
      termios quiet = FOld;
      quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
      quiet.c_lflag |= ICANON;
      FActive = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
  }
  ~TEchoOff() {
    if (FActive) ::tcsetattr(FFd, TCSAFLUSH, &FOld);
  }
  TEchoOff(const TEchoOff&) = delete;
  TEchoOff& operator=(const TEchoOff&) = delete;

 private:
  int FFd;
  termios FOld{};
  bool FActive = false;
};

std::string ForTerminal(const AnsiString& text) {
  std::string utf8;
  if (!TryAnsiToUtf8(text, utf8)) utf8 = text;
  return utf8;
}

class TPosixPasswordPrompt final : public IPasswordPrompt {
 public:
  bool Query(const AnsiString& Caption, const AnsiString& Prompt, AnsiString& Password) override {
    TTerminal tty;
    if (!tty.IsOpen()) return false;
    tty.Put(ForTerminal(Caption) + "\n" + ForTerminal(Prompt));
    std::string line;
    bool confirmed = false;
    {
      TEchoOff quiet(tty.Fd());
      // Bounded: a password is short; a line longer than this is cut.
      constexpr size_t MaxInput = 4096;
      for (;;) {
        char c = 0;
        ssize_t n = ::read(tty.Fd(), &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // end of input or error: cancelled
        if (c == '\n' || c == '\r') {
          confirmed = true;
          break;
        }
        if (line.size() < MaxInput) line.push_back(c);
      }
    }
    tty.Put("\n");
    if (confirmed) {
      AnsiString ansi;
      if (TryUtf8ToAnsi(line, ansi)) {
        Password = ansi;
        SecureErase(ansi);
      } else {
        confirmed = false;  // not a text of the code page: nothing substituted
      }
    }
    SecureErase(line);
    return confirmed;
  }
};

}  // namespace

IPasswordPrompt& IPasswordPrompt::Default() {
  static TPosixPasswordPrompt prompt;
  return prompt;
}

}  // namespace zk::os
