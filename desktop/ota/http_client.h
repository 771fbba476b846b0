// Blocking HTTP GETs over WinINet with the system proxy settings and no caching. Each
// call opens and closes its own handles; call them off the UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Fetches a small resource into memory. `status` (when given) receives the HTTP status
// once a request was opened; `ok` (when given) is always written: true for a 2xx
// status whose body arrived in full.
std::string HttpGet(const std::wstring& url, uint32_t* status, bool* ok);

// Streams a resource into `path` (created or truncated), calling `progress` with each
// new whole percentage when the length is known and once more with 100 at the end.
// True only for a 2xx response whose body was non-empty, complete and fully written.
// An error status leaves `path` untouched; a broken transfer leaves the partial file.
bool DownloadToFile(const std::wstring& url, const std::wstring& path,
                    std::function<void(int)> progress);
