// Inputs shared by the compression tests: made by the tests themselves from a
// fixed seed, so every run codes the same bytes.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zk::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// INI-like text with CR LF lines, GBK-looking double-byte names and numbers.
inline Bytes MixedText(size_t size, uint32_t seed = 1) {
  static const char* const words[] = {"[FILEINFO]\r\n",
                                      "ProductName=",
                                      "\xBC\xC6\xBC\xDB",
                                      "Version=",
                                      "2016",
                                      "\r\n",
                                      "the ",
                                      "quantity ",
                                      "price ",
                                      "of ",
                                      "steel ",
                                      "concrete ",
                                      "= ",
                                      "0.",
                                      "125",
                                      "; note ",
                                      "Item",
                                      "\xB9\xA4\xB3\xCC"};
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size + 32);
  while (out.size() < size) {
    const std::string w = words[rng() % (sizeof(words) / sizeof(words[0]))];
    out.insert(out.end(), w.begin(), w.end());
    if (rng() % 7 == 0) {
      const std::string n = std::to_string(rng() % 100000);
      out.insert(out.end(), n.begin(), n.end());
    }
  }
  out.resize(size);
  return out;
}

inline Bytes RandomBytes(size_t size, uint32_t seed = 2) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Long runs of a few values with short random stretches between them.
inline Bytes LongRuns(size_t size, uint32_t seed = 3) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    out.insert(out.end(), 1000 + rng() % 20000, static_cast<uint8_t>("\0a \xFF"[rng() % 4]));
    for (int i = 0; i < 20; ++i) out.push_back(static_cast<uint8_t>(rng()));
  }
  out.resize(size);
  return out;
}

}  // namespace zk::testing
