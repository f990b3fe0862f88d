#include "container/engine/ArrayGrowth.h"

#include <algorithm>
#include <limits>

#include "platform/rtl/Exception.h"

namespace zk {

namespace {
int32_t Doubled(int32_t Step, int32_t Max) {
  return static_cast<int32_t>(std::min<int64_t>(int64_t{Step} * 2, Max));
}
}  // namespace

TArrayGrowth::TArrayGrowth(int32_t Delta, int32_t MaxDelta)
    : FGrowBy(std::max(Delta, 0)),
      FShrinkBy(std::max(Delta, 0)),
      FMaxDelta(std::max(MaxDelta, 0)) {}

void TArrayGrowth::Plan(int32_t N, const char* Owner) {
  if (N < 0) {
    throw Exception(AnsiString(Owner) + ".SetCount - invalid count = " + IntToStr(N));
  }
  if (N == 0) {
    FCapacity = 0;
  } else if (N > FCapacity) {
    FGrowBy = Doubled(FGrowBy, FMaxDelta);
    const int64_t stepped =
        std::min<int64_t>(int64_t{FCapacity} + FGrowBy, std::numeric_limits<int32_t>::max());
    FCapacity = static_cast<int32_t>(std::max<int64_t>(N, stepped));
  } else if (N < FItemCount && FCapacity - N > FShrinkBy) {
    FShrinkBy = Doubled(FShrinkBy, FMaxDelta);
    FCapacity = N;
  }
  FItemCount = N;
}

}  // namespace zk
