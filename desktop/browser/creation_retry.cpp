#include "browser/creation_retry.h"

#include "base/globals.h"

namespace {

// A browser can take several seconds to let go of its profile after its host closed it,
// longer on a busy machine; the start-up screen stays up meanwhile.
constexpr ULONGLONG RetryForMs = 20000;
constexpr UINT RetryEveryMs = 400;
constexpr UINT_PTR RetryTimer = 0x4f03;

ULONGLONG SequenceStart = 0;
void (*Again)() = nullptr;

void CALLBACK RetryNow(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    if (Again)
        Again();
}

// "The requested resource is in use" and "not in the correct state": what the runtime
// answers while another browser process still has the folder.
bool HeldFolder(HRESULT hr) {
    return hr == HRESULT_FROM_WIN32(ERROR_BUSY) || hr == HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
}

} // namespace

void NoteCreationStart(ULONGLONG startedAt) {
    SequenceStart = startedAt;
}

bool RetryCreationLater(HRESULT hr, void (*again)()) {
    if (!HeldFolder(hr) || GetTickCount64() - SequenceStart >= RetryForMs || !MainWindow ||
        !IsWindow(MainWindow))
        return false;
    Again = again;
    return SetTimer(MainWindow, RetryTimer, RetryEveryMs, RetryNow) != 0;
}
