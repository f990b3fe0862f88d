#include "tools/sfs/Progress.h"

#include <algorithm>
#include <cmath>

#ifdef _WIN32
#include <io.h>
#define ZK_ISATTY _isatty
#define ZK_FILENO _fileno
#else
#include <unistd.h>
#define ZK_ISATTY isatty
#define ZK_FILENO fileno
#endif

namespace zk::sfs {

bool IsTerminal(std::FILE* Stream) {
  return Stream != nullptr && ZK_ISATTY(ZK_FILENO(Stream)) != 0;
}

std::string RenderProgressLine(const std::string& Label, int Percent, int Width) {
  Percent = std::clamp(Percent, 0, 100);
  Width = std::max(Width, 1);
  const int filled = Percent * Width / 100;
  std::string line = Label + " [";
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(Width - filled), '.');
  char number[8];
  std::snprintf(number, sizeof number, "] %3d%%", Percent);
  return line + number;
}

TProgressBar::TProgressBar(std::string Label, bool Wanted, std::FILE* Out)
    : FLabel(std::move(Label)), FOut(Out), FEnabled(Wanted && IsTerminal(Out)) {}

TProgressBar::~TProgressBar() {
  Finish();
}

void TProgressBar::Update(double Percent) {
  if (!FEnabled) return;
  if (!std::isfinite(Percent)) return;
  const int shown = static_cast<int>(std::clamp(Percent, 0.0, 100.0));
  if (shown == FShown) return;
  FShown = shown;
  std::fprintf(FOut, "\r%s", RenderProgressLine(FLabel, shown, 30).c_str());
  std::fflush(FOut);
}

void TProgressBar::Update(int64_t Position, int64_t Total) {
  Update(Total > 0 ? 100.0 * static_cast<double>(Position) / static_cast<double>(Total) : 100.0);
}

void TProgressBar::Finish() {
  if (!FEnabled) return;
  FEnabled = false;
  if (FShown >= 0) {
    // Blank the line and return to its start.
    const size_t length = RenderProgressLine(FLabel, 100, 30).size();
    std::fprintf(FOut, "\r%s\r", std::string(length, ' ').c_str());
    std::fflush(FOut);
  }
}

}  // namespace zk::sfs
