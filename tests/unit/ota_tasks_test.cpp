#include <doctest/doctest.h>

#include "allocations.h"
#include "bridge/ota_tasks.h"

#include <cstddef>
#include <initializer_list>

namespace {

// Allocation failures for the length of one call, whatever it throws.
template <typename Call> bool ThrowsWithFailingAllocations(std::size_t from, Call call) {
    struct Restore {
        ~Restore() { FailAllocationsFrom(0); }
    } restore;
    FailAllocationsFrom(from);
    try {
        call();
        return false;
    } catch (...) {
        return true;
    }
}

} // namespace

TEST_CASE("a failed allocation inside a background task never leaves the task") {
    for (std::size_t from : {1, 64, 1024, 8192, 65536}) {
        CHECK_FALSE(ThrowsWithFailingAllocations(from, CheckOtaTask));
        CHECK_FALSE(ThrowsWithFailingAllocations(from, ApplyOtaTask));
    }
}
