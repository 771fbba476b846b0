#include "bridge/ota_tasks.h"

#include "bridge/emit.h"
#include "base/stop_signal.h"
#include "base/text.h"
#include "bridge/apply_update.h"
#include "ota/update.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

const wchar_t* JsonBool(bool value) {
    return value ? L"true" : L"false";
}

std::atomic<int> RunningTasks{0};

// Requests for a check that the check under way will answer. A page that asks again
// and again (a click per second, a script in a loop) costs one request to the server;
// so do requests right after a check: its answer is still news for a moment.
constexpr ULONGLONG FreshAnswerMs = 2000;
std::mutex CheckMutex;
bool CheckRunning = false;
int CheckWaiters = 0;
std::wstring LastAnswer;
ULONGLONG LastAnswerAt = 0;

// Ends the check under way with `payload` and returns how many requests it answers.
int TakeCheckWaiters(const std::wstring& payload) {
    std::lock_guard<std::mutex> lock(CheckMutex);
    int waiting = CheckWaiters;
    CheckWaiters = 0;
    CheckRunning = false;
    LastAnswer = payload;
    LastAnswerAt = GetTickCount64();
    return waiting;
}

void AnswerChecks(int count, const std::wstring& payload) {
    for (int i = 0; i < count; ++i)
        EmitToPage("otaStatus", payload);
}

} // namespace

std::wstring StartupStatusPayload(const OtaCheckResult& result) {
    return L"{\"available\":true,\"version\":\"" + JsonEscape(result.version) + L"\",\"notes\":\"" +
           JsonEscape(result.notes) + L"\",\"force\":" + JsonBool(result.force) + L"}";
}

std::wstring CheckStatusPayload(const OtaCheckResult& result) {
    std::wstring payload = std::wstring(L"{\"available\":") + JsonBool(result.available) +
                           L",\"version\":\"" + JsonEscape(result.version) + L"\"";
    // A refused manifest is not "no update": the page says the offer was not trusted.
    if (!result.refused.empty())
        payload += L",\"error\":\"" + JsonEscape(RefusalMessage(result)) + L"\"";
    return payload + L"}";
}

// Nothing thrown (a failed allocation, say) may leave a task and end the process:
// it becomes the task's failure report.
template <typename Task, typename Failure> void RunTaskCatchingAll(Task task, Failure failure) {
    try {
        task();
    } catch (...) {
        try {
            failure();
        } catch (...) {
        }
    }
}

void StartupOtaTask() {
    RunTaskCatchingAll(
        [] {
            if (WaitForSingleObject(StopSignal(), 8000) == WAIT_OBJECT_0)
                return;
            OtaCheckResult result = CheckOta();
            if (result.available)
                EmitToPage("otaStatus", StartupStatusPayload(result));
        },
        [] {});
}

void CheckOtaTask() {
    RunTaskCatchingAll(
        [] {
            std::wstring payload = CheckStatusPayload(CheckOta());
            AnswerChecks(TakeCheckWaiters(payload), payload);
        },
        [] {
            std::wstring payload = CheckStatusPayload(OtaCheckResult());
            AnswerChecks(TakeCheckWaiters(payload), payload);
        });
}

void RequestOtaCheck() {
    std::wstring fresh;
    {
        std::lock_guard<std::mutex> lock(CheckMutex);
        if (!CheckRunning && LastAnswerAt && GetTickCount64() - LastAnswerAt < FreshAnswerMs) {
            fresh = LastAnswer;
        } else {
            ++CheckWaiters;
            if (CheckRunning)
                return;
            CheckRunning = true;
        }
    }
    if (!fresh.empty()) {
        EmitToPage("otaStatus", fresh);
        return;
    }
    if (!StartBackgroundTask(CheckOtaTask)) {
        std::wstring payload = CheckStatusPayload(OtaCheckResult{});
        AnswerChecks(TakeCheckWaiters(payload), payload);
    }
}

void ApplyOtaTask() {
    // Refuse a second update before anything is fetched; the update steps take the same
    // lock again (it is recursive on this thread) and hold it while files are written.
    HANDLE lock = AcquireUpdateLock();
    if (!lock) {
        EmitToPage("ota",
                   OtaErrorPayload(UpdateFailureMessage({UpdateOutcome::AlreadyRunning, {}})));
        return;
    }
    RunTaskCatchingAll(
        [] {
            OtaCheckResult result = CheckOta();
            if (!result.refused.empty())
                EmitToPage("ota", OtaErrorPayload(RefusalMessage(result)));
            else if (result.available)
                ApplyUpdate(result);
            else
                EmitToPage("ota", L"{\"stage\":\"noop\"}");
        },
        [] { EmitToPage("ota", OtaErrorPayload(L"update failed: internal error")); });
    ReleaseUpdateLock(lock);
}

bool StartBackgroundTask(void (*task)()) {
    ++RunningTasks;
    try {
        std::thread([task] {
            task();
            --RunningTasks;
        }).detach();
        return true;
    } catch (const std::system_error&) {
        --RunningTasks;
        return false;
    }
}

bool StopBackgroundTasks(unsigned long ms) {
    RequestStop();
    ULONGLONG deadline = GetTickCount64() + ms;
    while (RunningTasks > 0 && GetTickCount64() < deadline)
        Sleep(20);
    return RunningTasks == 0;
}
