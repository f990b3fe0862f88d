// TTempDir: a fresh folder under /tmp for one test, removed with everything
// in it when the object goes. The folder name starts with the prefix given
// (zk-test by default) so that a leftover shows which tests made it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace zk::testing {

class TTempDir {
 public:
  explicit TTempDir(const std::string& prefix = "zk-test") {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The path of a file in the folder, with a trailing name.
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

}  // namespace zk::testing
