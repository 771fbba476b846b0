#include "headless/console.h"

#include <cstdio>

// Not built yet: every switch answers with the usage line.
int RunConsoleCommand(const wchar_t*) {
    std::printf("usage: OVRA-Zirer.exe [--version|--check-ota|--apply-ota|--smoke]\n");
    return 1;
}
