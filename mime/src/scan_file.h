#pragma once
// The entity scan over a file the caller has already opened, so the decode worker reads
// the very file that was scanned.

#include "file_io.h"
#include "qrmime/entity.h"

namespace qrmime::detail {

ScanResult ScanOpenFile(InputFile& file);

}  // namespace qrmime::detail
