#pragma once
// Files written by GDAL drivers through a file system of our own, which keeps the first
// write error. Some drivers (GeoJSON) ignore what their writes return, so a full disk would
// leave a truncated file behind a run that says it succeeded; a driver that opens its files
// through watchedPath() writes through plain POSIX calls that remember every failure, up to
// and including the close.

#include <string>

namespace dormal {

// The name under which GDAL opens `path` through the watching file system (installed at the
// first call).
std::string watchedPath(const std::string& path);

// The errno of the first write, seek, truncation or close that failed through the watching
// file system since the last reset; 0 when none did.
int watchedWriteError();
void resetWatchedWriteError();

} // namespace dormal
