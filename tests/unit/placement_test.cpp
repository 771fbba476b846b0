#include <doctest/doctest.h>

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
