// The locale on POSIX: Chinese PRC over GBK. A lone byte of 0x80 and above is
// not a character of its own in GBK, so all such bytes collate alike, after
// the single-byte characters; the rank table is then no permutation and name
// comparison takes the case-insensitive fallback, by GBK character.
#include "platform/os/Locale.h"
#include "platform/rtl/AnsiString.h"

namespace zk::os {

namespace {
class TPosixLocale final : public ILocale {
 public:
  uint32_t UserDefaultLocale() override { return LocaleChinesePRC; }
  int CompareOneChar(unsigned char a, unsigned char b) override {
    int wa = Weight(a), wb = Weight(b);
    return wa < wb ? -1 : (wa > wb ? 1 : 0);
  }
  int CompareTextIgnoreCase(std::string_view a, std::string_view b) override {
    int r = AnsiCompareText(a, b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
  unsigned char UpperChar(unsigned char c) override {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
  }

 private:
  // Single-byte characters in byte order, with a letter's lower-case form just
  // before its upper-case form; every byte from 0x80 on weighs the same.
  static int Weight(unsigned char c) {
    if (c >= 0x80) return 0x1000;
    if (c >= 'a' && c <= 'z') return ('A' + (c - 'a')) * 2;
    if (c >= 'A' && c <= 'Z') return c * 2 + 1;
    return c * 2;
  }
};
}  // namespace

ILocale& ILocale::Default() {
  static TPosixLocale locale;
  return locale;
}

}  // namespace zk::os
