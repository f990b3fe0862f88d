// The product name recorded in a project document: [FILEINFO] ProductName of
// PROFILE.INI in the document's folder GC, read through the profile store.
#pragma once

#include "platform/rtl/AnsiString.h"

namespace zk {

// The product name of the document (empty when it records none). The
// document is opened read only and closed again; its errors propagate.
AnsiString ReadProductName(const AnsiString& DocumentPath);

}  // namespace zk
