// zk_make_document: makes a sample project document, as the pricing programs
// write them: a container keyed with the current built-in password whose
// folder GC holds PROFILE.INI (zlib-compressed) naming the product.
//
//   zk_make_document <document> <product name>
//
// Arguments are UTF-8; an existing file of that name is replaced.
#include <cstdio>
#include <exception>

#include "container/api/BuiltInKeys.h"
#include "container/api/FileStream.h"
#include "container/api/SingleFileSystem.h"
#include "platform/os/AnsiCodePage.h"
#include "platform/rtl/Exception.h"

namespace {

constexpr uint8_t ZlibNormal = 2;  // compression method code

void MakeDocument(const zk::AnsiString& Path, const zk::AnsiString& Product) {
  auto container = zk::Tv9FileSystem::Create(Path, zk::ModeCreate, zk::GetCurrentBuiltInPassword());
  if (!container->ForceDirectories("GC") || !container->ChangeDir("GC"))
    throw zk::Exception("cannot make the folder GC");
  const zk::AnsiString profile = "[FILEINFO]\r\nProductName=" + Product + "\r\n\r\n";
  zk::Tv9Stream out(container.get(), "PROFILE.INI", zk::ModeCreate, ZlibNormal);
  out.WriteBuffer(profile.data(), static_cast<int32_t>(profile.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: zk_make_document <document> <product name>\n");
    return 2;
  }
  try {
    MakeDocument(zk::os::Utf8ToAnsi(argv[1]), zk::os::Utf8ToAnsi(argv[2]));
  } catch (const zk::Exception& e) {
    std::string text;
    if (!zk::os::TryAnsiToUtf8(e.Message, text)) text = e.Message;
    std::fprintf(stderr, "zk_make_document: %s\n", text.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zk_make_document: %s\n", e.what());
    return 1;
  }
  std::printf("made %s: an encrypted project document, ProductName=%s in GC\\PROFILE.INI\n",
              argv[1], argv[2]);
  return 0;
}
