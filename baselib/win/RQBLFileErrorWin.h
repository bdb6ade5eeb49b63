// The file layer's reading of a Windows error code, for the Windows files of
// the base library that open, write and rename files.
#pragma once

#include <windows.h>

#include "baselib/RQBLFileOps.h"

namespace rqbl {

FileError FileErrorFromSystem(DWORD dwError);

}  // namespace rqbl
