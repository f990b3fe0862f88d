#include "container/api/BuiltInKeys.h"

#include "platform/rtl/Exception.h"

#ifndef ZK_BUILTIN_CURRENT_TEXT
#error "ZK_BUILTIN_CURRENT_TEXT (the stored text of the current built-in password) is not set"
#endif
#ifndef ZK_BUILTIN_LEGACY_TEXT
#error "ZK_BUILTIN_LEGACY_TEXT (the stored text of the legacy built-in password) is not set"
#endif
#ifndef ZK_BUILTIN_KEY_TEXT
#error "ZK_BUILTIN_KEY_TEXT (the stored key text of the built-in passwords) is not set"
#endif

namespace zk {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The value of the pair at Index: two digits, or one when the text ends
// after the first.
int PairValue(const AnsiString& Text, size_t Index) {
  int value = 0;
  for (size_t i = Index; i < Index + 2 && i < Text.size(); ++i) {
    int d = HexDigit(Text[i]);
    if (d < 0) {
      throw Exception("'$" + Text.substr(Index, 2) + "' is not a valid integer value");
    }
    value = value * 16 + d;
  }
  return value;
}

const char HexChars[] = "0123456789ABCDEF";

}  // namespace

AnsiString DecodeHiddenText(const AnsiString& HexText, const AnsiString& KeyText) {
  AnsiString result;
  if (HexText.empty()) return result;
  int prev = PairValue(HexText, 0);
  size_t k = 0;
  for (size_t i = 2; i < HexText.size(); i += 2) {
    int cur = PairValue(HexText, i);
    k = k < KeyText.size() ? k + 1 : 1;
    int v = KeyText.empty() ? cur : cur ^ static_cast<unsigned char>(KeyText[k - 1]);
    v = v <= prev ? v + 255 - prev : v - prev;
    result.push_back(static_cast<char>(v));
    prev = cur;
  }
  return result;
}

AnsiString EncodeHiddenText(const AnsiString& Plain, const AnsiString& KeyText, uint8_t First) {
  AnsiString result;
  auto put = [&result](int b) {
    result.push_back(HexChars[(b >> 4) & 15]);
    result.push_back(HexChars[b & 15]);
  };
  int prev = First;
  put(prev);
  size_t k = 0;
  for (char ch : Plain) {
    int c = static_cast<unsigned char>(ch);
    if (c == 0) throw Exception("EncodeHiddenText - a NUL character cannot be stored");
    // The decoder gives x - prev for x > prev and x + 255 - prev otherwise.
    int x = c + prev <= 255 ? c + prev : c + prev - 255;
    k = k < KeyText.size() ? k + 1 : 1;
    int cur = KeyText.empty() ? x : x ^ static_cast<unsigned char>(KeyText[k - 1]);
    put(cur);
    prev = cur;
  }
  return result;
}

AnsiString DecodeStoredPassword(const AnsiString& StoredText, const AnsiString& StoredKeyText) {
  auto bad = [&]() {
    return Exception("DecodeStoredPassword - invalid stored text, length = " +
                     IntToStr(static_cast<int64_t>(StoredText.size())));
  };
  if (StoredText.size() < 2 || HexDigit(StoredText[0]) < 0 || HexDigit(StoredText[0]) > 9 ||
      HexDigit(StoredText[1]) < 0 || HexDigit(StoredText[1]) > 9) {
    throw bad();
  }
  size_t n = static_cast<size_t>(HexDigit(StoredText[0]) * 10 + HexDigit(StoredText[1]));
  if (StoredText.size() < 2 + n) throw bad();
  AnsiString key = DecodeHiddenText(StoredText.substr(2, n), StoredKeyText);
  return DecodeHiddenText(StoredText.substr(2 + n), key);
}

AnsiString GetCurrentBuiltInPassword() {
  return DecodeStoredPassword(ZK_BUILTIN_CURRENT_TEXT, ZK_BUILTIN_KEY_TEXT);
}

AnsiString GetLegacyBuiltInPassword() {
  return DecodeStoredPassword(ZK_BUILTIN_LEGACY_TEXT, ZK_BUILTIN_KEY_TEXT);
}

}  // namespace zk
