// Downloads one URL with the updater's DownloadToFile and reports the time taken and the
// process's peak working set, as one JSON line:
//   download_bench.exe <url> <file>
#include "ota/http_client.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: download_bench <url> <file>\n");
        return 2;
    }
    PROCESS_MEMORY_COUNTERS before = {};
    before.cb = sizeof(before);
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
    int calls = 0;
    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    bool ok = DownloadToFile(argv[1], argv[2], [&calls](int) { ++calls; });
    QueryPerformanceCounter(&end);
    PROCESS_MEMORY_COUNTERS after = {};
    after.cb = sizeof(after);
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));

    WIN32_FILE_ATTRIBUTE_DATA info = {};
    GetFileAttributesExW(argv[2], GetFileExInfoStandard, &info);
    unsigned long long bytes =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    std::printf("{\"ok\":%s,\"bytes\":%llu,\"seconds\":%.3f,\"progressCalls\":%d,"
                "\"workingSetBefore\":%llu,\"peakWorkingSet\":%llu}\n",
                ok ? "true" : "false", bytes,
                static_cast<double>(end.QuadPart - start.QuadPart) / freq.QuadPart, calls,
                static_cast<unsigned long long>(before.WorkingSetSize),
                static_cast<unsigned long long>(after.PeakWorkingSetSize));
    return ok ? 0 : 1;
}
