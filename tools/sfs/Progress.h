// A progress bar for long runs of the sfs tool. It draws on standard error
// only when standard error is a terminal (so pipes, logs and scripts never see
// it), redraws at most when the whole percentage changes, and clears its line
// when finished. It owns nothing but its counters.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace zk::sfs {

// Whether the stream is a terminal.
bool IsTerminal(std::FILE* Stream);

class TProgressBar {
 public:
  // Enabled only when Wanted is set and Out is a terminal.
  explicit TProgressBar(std::string Label, bool Wanted = true, std::FILE* Out = stderr);
  ~TProgressBar();
  TProgressBar(const TProgressBar&) = delete;
  TProgressBar& operator=(const TProgressBar&) = delete;

  bool Enabled() const { return FEnabled; }
  // Percent 0 to 100 (clamped).
  void Update(double Percent);
  // Position of Total (bytes or items).
  void Update(int64_t Position, int64_t Total);
  // Clears the line; later updates are ignored.
  void Finish();

 private:
  std::string FLabel;
  std::FILE* FOut;
  bool FEnabled;
  int FShown = -1;
};

// One line of the bar: "<label> [#####.....]  45%", Width characters of bar.
std::string RenderProgressLine(const std::string& Label, int Percent, int Width);

}  // namespace zk::sfs
