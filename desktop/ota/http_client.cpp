#include "ota/http_client.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

TransferLimits Limits;

namespace {

const wchar_t* const UserAgent = L"OVRA-Zirer/1.0";
const uint64_t NoLength = ~uint64_t(0);

struct Request {
    HINTERNET root = nullptr;
    HINTERNET request = nullptr;
};

// Root handle with the system's proxy configuration, then the request; both bypass the
// local cache in both directions. The receive time-out is what ends a stalled read.
Request OpenRequest(const std::wstring& url) {
    Request r;
    r.root = InternetOpenW(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!r.root)
        return r;
    DWORD stall = Limits.stallMs;
    InternetSetOptionW(r.root, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall, sizeof(stall));
    InternetSetOptionW(r.root, INTERNET_OPTION_SEND_TIMEOUT, &stall, sizeof(stall));
    InternetSetOptionW(r.root, INTERNET_OPTION_CONNECT_TIMEOUT, &stall, sizeof(stall));
    r.request = InternetOpenUrlW(r.root, url.c_str(), nullptr, 0,
                                 INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!r.request) {
        InternetCloseHandle(r.root);
        r.root = nullptr;
    }
    return r;
}

void CloseRequest(Request& r) {
    if (r.request)
        InternetCloseHandle(r.request);
    if (r.root)
        InternetCloseHandle(r.root);
    r = Request();
}

uint32_t QueryStatus(HINTERNET request) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &size,
                        nullptr))
        return 0;
    return value;
}

// Content-Length as text, so lengths past 4 GB are read whole rather than wrapped;
// NoLength when absent or not a plain decimal number.
uint64_t QueryLength(HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr) || !text[0])
        return NoLength;
    uint64_t value = 0;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9' || value > (NoLength - 9) / 10)
            return NoLength;
        value = value * 10 + (*c - L'0');
    }
    return value;
}

bool IsSuccess(uint32_t status) {
    return status - 200u <= 99u;
}

// Reads the whole body, handing each piece to `sink` (false from it stops the read).
// True only when the body ended normally, matched its announced length and stayed
// within `cap`: a failed read (a reset, a stall, a chunked body cut off) is never
// taken for the end of the body.
template <typename Sink>
bool ReadBody(HINTERNET request, uint64_t cap, char* buffer, DWORD size, Sink sink) {
    uint64_t advertised = QueryLength(request);
    if (advertised != NoLength && advertised > cap)
        return false;
    uint64_t received = 0;
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request, buffer, size, &read))
            return false;
        if (read == 0)
            break;
        received += read;
        if (received > cap || (advertised != NoLength && received > advertised))
            return false;
        if (!sink(buffer, read, received, advertised))
            return false;
    }
    return advertised == NoLength || received == advertised;
}

} // namespace

std::string HttpGet(const std::wstring& url, uint32_t* status, bool* ok) {
    std::string body;
    Request r = OpenRequest(url);
    if (!r.request) {
        if (ok)
            *ok = false;
        return body;
    }
    uint32_t code = QueryStatus(r.request);
    if (status)
        *status = code;

    char buffer[8192];
    bool whole = ReadBody(r.request, Limits.memoryCap, buffer, sizeof(buffer),
                          [&body](const char* data, DWORD n, uint64_t, uint64_t) {
                              body.append(data, n);
                              return true;
                          });
    CloseRequest(r);

    if (ok)
        *ok = IsSuccess(code) && whole;
    return body;
}

bool DownloadToFile(const std::wstring& url, const std::wstring& path,
                    std::function<void(int)> progress) {
    Request r = OpenRequest(url);
    if (!r.request)
        return false;
    // An error page must never stand where the executable is expected.
    if (!IsSuccess(QueryStatus(r.request))) {
        CloseRequest(r);
        return false;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        CloseRequest(r);
        return false;
    }

    std::vector<char> buffer(65536);
    uint64_t total = 0;
    int lastPct = -1;
    bool whole = ReadBody(r.request, Limits.downloadCap, buffer.data(),
                          static_cast<DWORD>(buffer.size()),
                          [&](const char* data, DWORD n, uint64_t received, uint64_t advertised) {
                              DWORD wrote = 0;
                              if (!WriteFile(file, data, n, &wrote, nullptr) || wrote != n)
                                  return false;
                              total = received;
                              if (progress && advertised != NoLength && advertised != 0) {
                                  int pct = static_cast<int>(received * 100 / advertised);
                                  if (pct != lastPct) {
                                      lastPct = pct;
                                      progress(pct);
                                  }
                              }
                              return true;
                          });
    CloseHandle(file);
    CloseRequest(r);
    bool done = whole && total > 0;
    if (progress && done)
        progress(100);
    return done;
}
