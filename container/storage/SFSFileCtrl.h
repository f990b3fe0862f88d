// The storage back ends in one include: backing files (disk and memory) and
// the multi-part file over them.
#pragma once

#include "container/storage/ContainerMagic.h"
#include "container/storage/PartHeader.h"
#include "container/storage/SFSAbstractFile.h"
#include "container/storage/SFSDiskFile.h"
#include "container/storage/SFSHugeFile.h"
#include "container/storage/SFSMemoryFile.h"
