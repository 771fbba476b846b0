#include "ota/http_client.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

namespace {

const wchar_t* const UserAgent = L"OVRA-Zirer/1.0";

struct Request {
    HINTERNET root = nullptr;
    HINTERNET request = nullptr;
};

// Root handle with the system's proxy configuration, then the request; both bypass the
// local cache in both directions.
Request OpenRequest(const std::wstring& url) {
    Request r;
    r.root = InternetOpenW(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!r.root)
        return r;
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

// A numeric header; 0 when absent or unreadable.
uint32_t QueryNumber(HINTERNET request, DWORD info) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!HttpQueryInfoW(request, info | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr))
        return 0;
    return value;
}

bool IsSuccess(uint32_t status) {
    return status - 200u <= 99u;
}

// A body shorter than its announced length was cut off on the way.
bool IsComplete(uint64_t received, uint32_t advertised) {
    return advertised == 0 || received >= advertised;
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
    uint32_t code = QueryNumber(r.request, HTTP_QUERY_STATUS_CODE);
    if (status)
        *status = code;
    uint32_t advertised = QueryNumber(r.request, HTTP_QUERY_CONTENT_LENGTH);

    char buffer[8192];
    DWORD read = 0;
    while (InternetReadFile(r.request, buffer, sizeof(buffer), &read) && read > 0)
        body.append(buffer, read);
    CloseRequest(r);

    if (ok)
        *ok = IsSuccess(code) && IsComplete(body.size(), advertised);
    return body;
}

bool DownloadToFile(const std::wstring& url, const std::wstring& path,
                    std::function<void(int)> progress) {
    Request r = OpenRequest(url);
    if (!r.request)
        return false;
    // An error page must never stand where the executable is expected.
    if (!IsSuccess(QueryNumber(r.request, HTTP_QUERY_STATUS_CODE))) {
        CloseRequest(r);
        return false;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        CloseRequest(r);
        return false;
    }
    uint32_t advertised = QueryNumber(r.request, HTTP_QUERY_CONTENT_LENGTH);

    std::vector<char> buffer(65536);
    uint64_t received = 0;
    int lastPct = -1;
    bool written = true;
    DWORD read = 0;
    while (InternetReadFile(r.request, buffer.data(), static_cast<DWORD>(buffer.size()), &read) &&
           read > 0) {
        DWORD wrote = 0;
        if (!WriteFile(file, buffer.data(), read, &wrote, nullptr) || wrote != read) {
            written = false;
            break;
        }
        received += read;
        if (progress && advertised != 0) {
            int pct = static_cast<int>(received * 100 / advertised);
            if (pct != lastPct) {
                lastPct = pct;
                progress(pct);
            }
        }
    }
    CloseHandle(file);
    CloseRequest(r);
    if (progress)
        progress(100);
    return received > 0 && written && IsComplete(received, advertised);
}
