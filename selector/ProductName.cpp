#include "selector/ProductName.h"

#include "profile/SFSDatabase.h"

namespace zk {

AnsiString ReadProductName(const AnsiString& DocumentPath) {
  TsfsDBMemIni profile(DocumentPath, "GC", "");
  return profile.ReadString("FILEINFO", "ProductName", "");
}

}  // namespace zk
