#include "platform/os/Clock.h"

namespace zk::os {

namespace {
// Days from 1970-01-01 to y-m-d (proleptic Gregorian), and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}
}  // namespace

TSystemTime FileTimeToSystemTime(int64_t fileTime) {
  TSystemTime t;
  if (fileTime < 0) fileTime = 0;
  int64_t ms = fileTime / 10000;
  int64_t days = ms / 86400000;
  int64_t rest = ms % 86400000;
  int64_t unixDays = days - 134774;  // 1601-01-01 .. 1970-01-01
  int64_t y;
  unsigned m, d;
  CivilFromDays(unixDays, y, m, d);
  t.Year = static_cast<uint16_t>(y);
  t.Month = static_cast<uint16_t>(m);
  t.Day = static_cast<uint16_t>(d);
  // 1601-01-01 was a Monday.
  t.DayOfWeek = static_cast<uint16_t>((days + 1) % 7);
  t.Hour = static_cast<uint16_t>(rest / 3600000);
  t.Minute = static_cast<uint16_t>(rest / 60000 % 60);
  t.Second = static_cast<uint16_t>(rest / 1000 % 60);
  t.Milliseconds = static_cast<uint16_t>(rest % 1000);
  return t;
}

int64_t SystemTimeToFileTime(const TSystemTime& t) {
  int64_t days = DaysFromCivil(t.Year, t.Month, t.Day) + 134774;
  int64_t ms = ((days * 24 + t.Hour) * 60 + t.Minute) * 60000 + t.Second * 1000 + t.Milliseconds;
  return ms * 10000;
}

}  // namespace zk::os
