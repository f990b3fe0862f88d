// The run-time library's process-wide pseudo-random generator. One generator
// for the whole process, seeded once (on first use) from the operating
// system's entropy source mixed with the clock, so its numbers cannot be
// foretold from the moment they were drawn. Safe to call from any thread.
#pragma once

#include <cstdint>

namespace zk {

// A uniformly distributed integer with 0 <= result < Range; 0 when Range <= 0.
int32_t Random(int32_t range);

// Seeds the generator afresh from the entropy source and the clock (the first
// call of Random does this by itself).
void Randomize();

}  // namespace zk
