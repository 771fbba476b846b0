// How often a failing part of the browser is brought back before the host stops trying:
// a part that fails again at once would otherwise be restarted for ever.
#pragma once

#include <cstddef>
#include <deque>

struct FailureBudget {
    unsigned long long windowMs;
    size_t retries;
    std::deque<unsigned long long> failures;
};

// Records a failure at `nowMs` (a tick count); true while another try is still worth it:
// no more than `retries` failures within the last `windowMs`.
bool SpendRetry(FailureBudget& budget, unsigned long long nowMs);
