// Test double of the password query: answers from a queue (each a password or
// a cancel) and records every caption and prompt it was shown. With the queue
// empty it cancels.
#pragma once

#include <deque>
#include <vector>

#include "platform/os/PasswordPrompt.h"

namespace zk::os::testing {

class TFakePasswordPrompt : public IPasswordPrompt {
 public:
  struct TAnswer {
    bool Confirm = false;
    AnsiString Password;
  };
  struct TCall {
    AnsiString Caption, Prompt, Initial;
  };

  std::deque<TAnswer> Answers;
  std::vector<TCall> Calls;

  void Confirm(const AnsiString& password) { Answers.push_back({true, password}); }
  void CancelNext() { Answers.push_back({false, {}}); }

  bool Query(const AnsiString& Caption, const AnsiString& Prompt, AnsiString& Password) override {
    Calls.push_back({Caption, Prompt, Password});
    if (Answers.empty()) return false;
    TAnswer a = Answers.front();
    Answers.pop_front();
    if (a.Confirm) Password = a.Password;
    return a.Confirm;
  }
};

}  // namespace zk::os::testing
