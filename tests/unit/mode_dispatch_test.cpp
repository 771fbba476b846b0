#include <doctest/doctest.h>

#include "app/mode_dispatch.h"

#include <string>

TEST_CASE("headless switches match exactly, first one wins") {
    wchar_t prog[] = L"OVRA-Zirer.exe", version[] = L"--version", other[] = L"--foo",
            cased[] = L"--Version", eq[] = L"--version=1", check[] = L"--check-ota",
            smoke[] = L"--smoke";
    wchar_t* onlyVersion[] = {prog, version};
    CHECK(std::wstring(FindModeSwitch(2, onlyVersion)) == L"--version");
    wchar_t* unknownFirst[] = {prog, other, version};
    CHECK(std::wstring(FindModeSwitch(3, unknownFirst)) == L"--version");
    wchar_t* lookalikes[] = {prog, cased, eq};
    CHECK(FindModeSwitch(3, lookalikes) == nullptr);
    wchar_t* checkThenSmoke[] = {prog, check, smoke};
    CHECK(std::wstring(FindModeSwitch(3, checkThenSmoke)) == L"--check-ota");
    wchar_t* programIsSwitch[] = {smoke};
    CHECK(FindModeSwitch(1, programIsSwitch) == nullptr);
}
