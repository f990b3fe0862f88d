#include "platform/rtl/AnsiString.h"

namespace zk {

AnsiString IntToStr(int64_t value) {
  return std::to_string(value);
}
AnsiString UIntToStr(uint64_t value) {
  return std::to_string(value);
}

AnsiString QuoteText(std::string_view text) {
  AnsiString out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (size_t i = 0; i < text.size();) {
    size_t next = CharNext(text, i);
    if (next == i + 1 && text[i] == '"') out.push_back('"');
    out.append(text.substr(i, next - i));
    i = next;
  }
  out.push_back('"');
  return out;
}

size_t CharNext(std::string_view text, size_t i) {
  if (i >= text.size()) return text.size();
  if (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) return i + 2;
  return i + 1;
}

namespace {
template <class Map>
AnsiString MapAscii(std::string_view text, Map map) {
  AnsiString out(text);
  for (size_t i = 0; i < out.size();) {
    size_t next = CharNext(out, i);
    if (next == i + 1) out[i] = map(out[i]);
    i = next;
  }
  return out;
}
}  // namespace

AnsiString AnsiUpperCase(std::string_view text) {
  return MapAscii(text, [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; });
}

AnsiString AnsiLowerCase(std::string_view text) {
  return MapAscii(text, [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; });
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    size_t ni = CharNext(a, i), nj = CharNext(b, j);
    // Compare character by character; single-byte letters fold to upper case.
    auto fold = [](unsigned char c) -> unsigned char {
      return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
    };
    size_t la = ni - i, lb = nj - j;
    unsigned char ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
    if (la == 1) ca = fold(ca);
    if (lb == 1) cb = fold(cb);
    if (ca != cb) return int(ca) - int(cb);
    if (la == 2 && lb == 2) {
      unsigned char ta = static_cast<unsigned char>(a[i + 1]),
                    tb = static_cast<unsigned char>(b[j + 1]);
      if (ta != tb) return int(ta) - int(tb);
    } else if (la != lb) {
      return la < lb ? -1 : 1;
    }
    i = ni;
    j = nj;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

AnsiString Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return AnsiString(text.substr(b, e - b));
}

}  // namespace zk
