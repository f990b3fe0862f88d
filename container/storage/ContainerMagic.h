// The eight bytes that begin every container header at logical offset 0:
// "ANAN" followed by 09 0A 1F 15. The engine writes and checks them in the
// container header; the multi-part file looks for them right after a part
// header to find where the chain begins inside its first file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zk {

inline constexpr std::size_t ContainerMagicSize = 8;
inline constexpr std::array<uint8_t, ContainerMagicSize> ContainerMagic = {0x41, 0x4E, 0x41, 0x4E,
                                                                           0x09, 0x0A, 0x1F, 0x15};

}  // namespace zk
