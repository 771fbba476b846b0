#include <doctest/doctest.h>

// First: it brings the socket header, which must come before windows.h.
#include "update_fixtures.h"

#include "ota/http_client.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace update_fixtures;

namespace {

std::string Head(const std::string& headers) {
    return "HTTP/1.1 200 OK\r\nConnection: close\r\n" + headers + "\r\n";
}

const std::string Body(200000, 'b');

struct Outcome {
    bool getOk = true;
    size_t bodySize = 0;
    bool downloaded = true;
    std::vector<int> progress;
    ULONGLONG longestMs = 0; // the longer of the two calls
};

// The same response through HttpGet and DownloadToFile.
Outcome Fetch(std::function<End(SOCKET)> respond) {
    Outcome o;
    {
        Server server(respond);
        ULONGLONG start = GetTickCount64();
        std::string body = HttpGet(server.Url(), nullptr, &o.getOk);
        o.longestMs = GetTickCount64() - start;
        o.bodySize = body.size();
    }
    {
        Server server(respond);
        std::wstring path = JoinPath(MakeFolder(L"http"), L"download.bin");
        ULONGLONG start = GetTickCount64();
        o.downloaded =
            DownloadToFile(server.Url(), path, [&o](int pct) { o.progress.push_back(pct); });
        o.longestMs = std::max(o.longestMs, GetTickCount64() - start);
    }
    return o;
}

bool Reports100(const Outcome& o) {
    for (int pct : o.progress)
        if (pct >= 100)
            return true;
    return false;
}

// The head announcing all of Body, then only its first `n` bytes.
std::string PartOfBody(size_t n) {
    return Head("Content-Length: " + std::to_string(Body.size()) + "\r\n") + Body.substr(0, n);
}

void CheckBroken(const Outcome& o) {
    CHECK_FALSE(o.getOk);
    CHECK_FALSE(o.downloaded);
    CHECK_FALSE(Reports100(o));
}

} // namespace

TEST_CASE("a whole body is taken, with the final 100") {
    Outcome o = Fetch([](SOCKET s) {
        Send(s, Head("Content-Length: " + std::to_string(Body.size()) + "\r\n") + Body);
        return End::Close;
    });
    CHECK(o.getOk);
    CHECK(o.bodySize == Body.size());
    CHECK(o.downloaded);
    CHECK(o.progress.back() == 100);
}

TEST_CASE("a body broken off part-way fails both transfers and never shows 100") {
    SUBCASE("shorter than its Content-Length") {
        Outcome o = Fetch([](SOCKET s) {
            Send(s, PartOfBody(Body.size() / 2));
            return End::Close;
        });
        CheckBroken(o);
    }
    SUBCASE("reset mid-body") {
        Outcome o = Fetch([](SOCKET s) {
            Send(s, PartOfBody(70000));
            Sleep(200);
            return End::Reset;
        });
        CheckBroken(o);
    }
}

TEST_CASE("a transfer that stalls fails after the stall time") {
    uint32_t saved = HttpLimits.stallMs;
    HttpLimits.stallMs = 1500;
    SUBCASE("in the body") {
        Outcome o = Fetch([](SOCKET s) {
            Send(s, PartOfBody(1000));
            Sleep(6000);
            return End::Close;
        });
        CHECK_FALSE(o.getOk);
        CHECK_FALSE(o.downloaded);
        CHECK(o.longestMs < 4000); // cut at the stall time, not at the close
    }
    SUBCASE("before the response head") {
        Outcome o = Fetch([](SOCKET) {
            Sleep(6000);
            return End::Close;
        });
        CHECK_FALSE(o.getOk);
        CHECK_FALSE(o.downloaded);
        CHECK(o.longestMs < 4000);
    }
    HttpLimits.stallMs = saved;
}

TEST_CASE("bodies over the caps fail; lengths are read in 64 bits") {
    SUBCASE("a manifest announced over 1 MiB is not read") {
        Server server([](SOCKET s) {
            Send(s, Head("Content-Length: 2097152\r\n") + std::string(1000, 'm'));
            Sleep(3000);
            return End::Close;
        });
        bool ok = true;
        ULONGLONG start = GetTickCount64();
        std::string body = HttpGet(server.Url(), nullptr, &ok);
        CHECK_FALSE(ok);
        CHECK(body.empty());
        CHECK(GetTickCount64() - start < 2500);
    }
    SUBCASE("an endless manifest stops at the cap") {
        Server server([](SOCKET s) {
            Send(s, Head("Transfer-Encoding: chunked\r\n"));
            std::string chunk = "10000\r\n" + std::string(0x10000, 'e') + "\r\n";
            for (int i = 0; i < 200; ++i) // 12.5 MiB, far past the cap
                Send(s, chunk);
            return End::Reset;
        });
        bool ok = true;
        std::string body = HttpGet(server.Url(), nullptr, &ok);
        CHECK_FALSE(ok);
        CHECK(body.size() <= HttpLimits.memoryCap);
    }
    SUBCASE("a length past 4 GiB is not wrapped to a small one") {
        Outcome o = Fetch([](SOCKET s) {
            Send(s, Head("Content-Length: 4294967396\r\n") + std::string(100, 'w'));
            return End::Close;
        });
        CHECK_FALSE(o.getOk);
        CHECK_FALSE(o.downloaded);
    }
    SUBCASE("a download without a length stops at its cap") {
        uint64_t saved = HttpLimits.downloadCap;
        HttpLimits.downloadCap = 100000;
        Server server([](SOCKET s) {
            Send(s, Head("") + Body);
            return End::Close;
        });
        std::vector<int> progress;
        bool done = DownloadToFile(server.Url(), JoinPath(MakeFolder(L"cap"), L"d.bin"),
                                   [&progress](int pct) { progress.push_back(pct); });
        HttpLimits.downloadCap = saved;
        CHECK_FALSE(done);
        CHECK(progress.empty());
    }
}
