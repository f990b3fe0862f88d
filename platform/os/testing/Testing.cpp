// Anchor of the platform test-double library (the doubles are header-only).
#include "platform/os/testing/FakeClock.h"
