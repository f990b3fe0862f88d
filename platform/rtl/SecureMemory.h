// Overwriting of secret bytes (keys, key schedules, plain key texts) in a way
// the compiler may not drop as a dead store, even right before the memory is
// freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace zk {

// Fills Size bytes at Data with Value; the stores are kept.
inline void SecureFill(void* data, size_t size, uint8_t value = 0) noexcept {
  if (data == nullptr || size == 0) return;
  std::memset(data, value, size);
  // The barrier makes the buffer's contents observable, so the memset stays.
  __asm__ __volatile__("" : : "r"(data) : "memory");
}

// Overwrites the characters of a byte string with zeros (its length stays).
inline void SecureErase(std::string& text) noexcept {
  SecureFill(text.data(), text.size());
}

}  // namespace zk
