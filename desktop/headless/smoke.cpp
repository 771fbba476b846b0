#include "headless/smoke.h"

#include <cstdio>

// Not built yet: the switch answers with the usage line.
int RunSmokeTest() {
    std::printf("usage: OVRA-Zirer.exe [--version|--check-ota|--apply-ota|--smoke]\n");
    return 1;
}
