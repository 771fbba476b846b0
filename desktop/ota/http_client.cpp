#include "ota/http_client.h"

#include "base/stop_signal.h"

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <thread>
#include <vector>

TransferLimits HttpLimits;

namespace {

const wchar_t* const UserAgent = L"OVRA-Zirer/1.0";
const uint64_t NoLength = ~uint64_t(0);

// The blocking WinINet calls of one transfer run on a thread of their own, one call at
// a time as the transfer asks for them, so the transfer can give up on a call that
// takes longer than the stall time: not every WinINet honours its receive time-out.
// A thread that was given up on finishes its call whenever it returns, closes the
// handles and ends; the state it shares with the transfer lives until both are done.
struct Connection {
    std::wstring url;
    HINTERNET root = nullptr;
    HINTERNET request = nullptr;
    std::vector<char> buffer;
    DWORD got = 0;
    BOOL readOk = FALSE;
    bool stop = false; // set by the transfer before its last signal
    HANDLE want = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);

    ~Connection() {
        if (want)
            CloseHandle(want);
        if (done)
            CloseHandle(done);
    }
};

// Root handle with the system's proxy configuration, then the request; both bypass the
// local cache in both directions.
void Open(Connection& c) {
    c.root = InternetOpenW(UserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!c.root)
        return;
    DWORD stall = HttpLimits.stallMs;
    InternetSetOptionW(c.root, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall, sizeof(stall));
    InternetSetOptionW(c.root, INTERNET_OPTION_CONNECT_TIMEOUT, &stall, sizeof(stall));
    c.request = InternetOpenUrlW(c.root, c.url.c_str(), nullptr, 0,
                                 INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
}

void RunConnectionThread(std::shared_ptr<Connection> c) {
    Open(*c);
    SetEvent(c->done);
    for (;;) {
        WaitForSingleObject(c->want, INFINITE);
        if (c->stop || !c->request)
            break;
        c->readOk = InternetReadFile(c->request, c->buffer.data(),
                                     static_cast<DWORD>(c->buffer.size()), &c->got);
        SetEvent(c->done);
    }
    if (c->request)
        InternetCloseHandle(c->request);
    if (c->root)
        InternetCloseHandle(c->root);
}

// Waits for the connection's thread to finish its call: false after the stall time, or at
// once when the program is ending.
bool AwaitCall(Connection& c) {
    HANDLE stop = StopSignal();
    HANDLE events[2] = {c.done, stop};
    return WaitForMultipleObjects(stop ? 2 : 1, events, FALSE, HttpLimits.stallMs) == WAIT_OBJECT_0;
}

// The transfer's side: opens on construction, ends the connection on destruction.
struct Transfer {
    std::shared_ptr<Connection> c;
    bool stalled = false;

    Transfer(const std::wstring& url, size_t bufferSize) {
        try {
            c = std::make_shared<Connection>();
            c->url = url;
            c->buffer.resize(bufferSize);
            if (c->want && c->done)
                std::thread(RunConnectionThread, c).detach();
            else
                c.reset();
        } catch (...) { // no memory or no thread: the transfer fails
            c.reset();
        }
        if (c)
            stalled = !AwaitCall(*c);
    }
    ~Transfer() {
        if (!c)
            return;
        c->stop = true;
        SetEvent(c->want);
    }
    HINTERNET Request() const { return c && !stalled ? c->request : nullptr; }
    // One read; false for a failed or stalled one. `data` and `n` describe what came.
    bool Read(const char*& data, DWORD& n) {
        SetEvent(c->want);
        if (!AwaitCall(*c)) {
            stalled = true;
            return false;
        }
        data = c->buffer.data();
        n = c->got;
        return c->readOk != FALSE;
    }
};

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
// within `cap`: a failed read (a reset, a stall) is never taken for the end of the
// body.
template <typename Sink> bool ReadBody(Transfer& t, uint64_t cap, Sink sink) {
    uint64_t advertised = QueryLength(t.Request());
    if (advertised != NoLength && advertised > cap)
        return false;
    uint64_t received = 0;
    for (;;) {
        const char* data = nullptr;
        DWORD read = 0;
        if (!t.Read(data, read))
            return false;
        if (read == 0)
            break;
        received += read;
        if (received > cap || (advertised != NoLength && received > advertised))
            return false;
        if (!sink(data, read, received, advertised))
            return false;
    }
    return advertised == NoLength || received == advertised;
}

} // namespace

std::string HttpGet(const std::wstring& url, uint32_t* status, bool* ok) {
    std::string body;
    Transfer t(url, 8192);
    if (!t.Request()) {
        if (ok)
            *ok = false;
        return body;
    }
    uint32_t code = QueryStatus(t.Request());
    if (status)
        *status = code;
    bool whole =
        ReadBody(t, HttpLimits.memoryCap, [&body](const char* data, DWORD n, uint64_t, uint64_t) {
            body.append(data, n);
            return true;
        });
    if (ok)
        *ok = IsSuccess(code) && whole;
    return body;
}

bool DownloadToFile(const std::wstring& url, const std::wstring& path,
                    std::function<void(int)> progress) {
    Transfer t(url, 65536);
    // An error page must never stand where the executable is expected.
    if (!t.Request() || !IsSuccess(QueryStatus(t.Request())))
        return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;

    int lastPct = -1;
    uint64_t total = 0;
    bool whole = ReadBody(t, HttpLimits.downloadCap,
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
    bool done = whole && total > 0;
    if (progress && done)
        progress(100);
    return done;
}
