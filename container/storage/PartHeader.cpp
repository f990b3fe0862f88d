#include "container/storage/PartHeader.h"

#include <algorithm>
#include <cstring>

namespace zk {

TPartHeader MakePartHeader(int64_t PartSize, std::string_view NextPartName) {
  TPartHeader header;
  std::memset(&header, 0, sizeof header);
  std::copy(zk::PartSignature.begin(), zk::PartSignature.end(), header.PartSignature);
  header.PartSize = PartSize;
  const size_t n = std::min(NextPartName.size(), MaxPartNameLength);
  std::memcpy(header.NextPartName, NextPartName.data(), n);
  return header;
}

bool HasPartSignature(const TPartHeader& Header) {
  return std::equal(zk::PartSignature.begin(), zk::PartSignature.end(), Header.PartSignature);
}

bool GetNextPartName(const TPartHeader& Header, std::string_view& Name) {
  const void* nul = std::memchr(Header.NextPartName, 0, PartNameFieldSize);
  if (!nul) return false;
  Name = std::string_view(Header.NextPartName,
                          static_cast<size_t>(static_cast<const char*>(nul) - Header.NextPartName));
  return true;
}

}  // namespace zk
