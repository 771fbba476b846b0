#include <doctest/doctest.h>

#include "app/mode_dispatch.h"
#include "app/paths.h"
#include "app/placement.h"

#include <string>

namespace {
WindowPlacement Place(int left, int top, int w, int h) {
    return ComputeWindowPlacement(RECT{left, top, left + w, top + h});
}
} // namespace

TEST_CASE("window is 85% of the work area, with minimums, centred") {
    WindowPlacement p = Place(0, 0, 1920, 1040);
    CHECK(p.width == 1632);
    CHECK(p.height == 884);
    CHECK(p.left == 144);
    CHECK(p.top == 78);

    p = Place(0, 0, 1000, 700); // 850 x 595 would be below the minimums
    CHECK(p.width == 900);
    CHECK(p.height == 600);
    CHECK(p.left == 50);
    CHECK(p.top == 50);

    p = Place(0, 0, 1366, 728);
    CHECK(p.width == 1161);
    CHECK(p.height == 618);

    p = Place(0, 0, 800, 550); // smaller than the minimums: fill it
    CHECK(p.width == 800);
    CHECK(p.height == 550);
    CHECK(p.left == 0);
    CHECK(p.top == 0);

    p = Place(-1920, 40, 1920, 1040); // offsets of the work area carry through
    CHECK(p.left == -1920 + 144);
    CHECK(p.top == 40 + 78);
}

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

TEST_CASE("paths and the page URL") {
    CHECK(JoinPath(L"", L"ui") == L"ui");
    CHECK(JoinPath(L"C:\\", L"ui") == L"C:\\ui");
    CHECK(JoinPath(L"C:/a/", L"ui") == L"C:/a/ui");
    CHECK(JoinPath(L"C:\\A B", L"ui\\index.html") == L"C:\\A B\\ui\\index.html");

    CHECK(FileUrlFromPath(L"C:\\A B\\ui\\index.html") == L"file:///C:/A B/ui/index.html");
    CHECK(FileUrlFromPath(L"C:\\新 建\\ui\\index.html") == L"file:///C:/新 建/ui/index.html");
    // These three would end the path part of the URL early.
    CHECK(FileUrlFromPath(L"C:\\50%\\#1?\\index.html") == L"file:///C:/50%25/%231%3F/index.html");
}
