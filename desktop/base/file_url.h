// The parts of a file URL, read the way browsers read them on Windows.
#pragma once

#include <string>

// Splits `url` (no query or fragment) into its server ("" for this machine, lower case)
// and the path after it without leading slashes, backslashes turned into slashes and
// escapes left as they are. file:///C:/... is local; file://server/... and the older
// file://///server/... name a share, unless the "server" is a drive or localhost.
// False when `url` is not a file URL.
bool SplitFileUrl(const std::string& url, std::string& server, std::string& path);

// Whether `path` starts with a drive: "C:" or "C|", alone or before a slash. The drive
// letter comes out in upper case with a colon.
bool TakeDrive(std::string& path);
