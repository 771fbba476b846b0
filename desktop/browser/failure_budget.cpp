#include "browser/failure_budget.h"

bool SpendRetry(FailureBudget& budget, unsigned long long nowMs) {
    while (!budget.failures.empty() && nowMs - budget.failures.front() >= budget.windowMs)
        budget.failures.pop_front();
    budget.failures.push_back(nowMs);
    return budget.failures.size() <= budget.retries;
}
