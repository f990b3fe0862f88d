// The container engine in one include: the on-disk header and page records,
// the page file, the free-space maps, the directory and the file page maps,
// with the engine's arrays and the collation of names they use.
#pragma once

#include "container/engine/DIRManager.h"
#include "container/engine/FileHeader.h"
#include "container/engine/FreeSpaceManager.h"
#include "container/engine/IntegerArray.h"
#include "container/engine/MapGeometry.h"
#include "container/engine/PageFileManager.h"
#include "container/engine/SFSHeadersArray.h"
#include "container/engine/SFSStrFunc.h"
#include "container/engine/SortedPtrArray.h"
#include "container/engine/UserFilePageMapManager.h"
