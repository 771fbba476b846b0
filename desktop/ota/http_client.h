// Blocking HTTP GETs over WinINet with the system proxy settings and no caching. Each
// call opens and closes its own handles; call them off the UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Bounds on every transfer: a body larger than its cap fails without being kept, and a
// transfer that receives nothing for `stallMs` fails, so a trickling or endless server
// can neither fill memory or the disk nor hold an update for ever.
struct TransferLimits {
    uint64_t memoryCap = 1u << 20;              // HttpGet: manifests are small
    uint64_t downloadCap = uint64_t(512) << 20; // DownloadToFile: fits any real release
    uint32_t stallMs = 30000;
};
// Process-wide; the defaults hold unless a test narrows them before any transfer.
extern TransferLimits HttpLimits;

// Fetches a small resource into memory. `status` (when given) receives the HTTP status
// once a request was opened; `ok` (when given) is always written: true for a 2xx
// status whose body arrived in full and within the cap. A read that fails part-way,
// a body shorter than its Content-Length, one over the cap or a stall all give false.
std::string HttpGet(const std::wstring& url, uint32_t* status, bool* ok);

// Streams a resource into `path` (created or truncated), calling `progress` with each
// new whole percentage when the length is known and once more with 100 when the body
// arrived whole. True only for a 2xx response whose body was non-empty, complete,
// within the cap and fully written; a broken transfer never reports 100. An error
// status leaves `path` untouched; a broken transfer leaves the partial file.
bool DownloadToFile(const std::wstring& url, const std::wstring& path,
                    std::function<void(int)> progress);
