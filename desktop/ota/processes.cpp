#include "ota/processes.h"

#include "base/stop_signal.h"

#include <windows.h>

#include <vector>

std::wstring SystemFolder() {
    wchar_t system[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::wstring();
    return std::wstring(system, n);
}

std::string ReportedVersion(const std::wstring& program, uint32_t timeoutMs) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return std::string();
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::wstring line = L"\"" + program + L"\" --version";
    std::vector<wchar_t> writable(line.begin(), line.end());
    writable.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = nullptr;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return std::string();
    }

    // Polled rather than read blocking: whatever the program starts may inherit the
    // pipe and keep it open long after the program itself has ended.
    std::string out;
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool ended = false;
    for (;;) {
        DWORD avail = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0 &&
               out.size() < 4096) {
            char chunk[512];
            DWORD got = 0;
            if (!ReadFile(readEnd, chunk, sizeof(chunk) < avail ? sizeof(chunk) : avail, &got,
                          nullptr) ||
                got == 0)
                break;
            out.append(chunk, got);
        }
        if (ended || out.find('\n') != std::string::npos || out.size() >= 4096)
            break;
        if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0)
            ended = true; // one more drain for what it wrote last
        else if (GetTickCount64() > deadline || StopRequested())
            break; // a closing program does not wait out the time-out
    }
    // Once it has answered it gets a moment to end by itself.
    bool answered = out.find('\n') != std::string::npos && !StopRequested();
    if (WaitForSingleObject(pi.hProcess, answered && !ended ? 5000 : 0) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(readEnd);

    size_t end = out.find('\n');
    if ((end == std::string::npos && !ended) || StopRequested())
        return std::string(); // timed out (or told to stop) before a whole line
    std::string first = out.substr(0, end);
    if (!first.empty() && first.back() == '\r')
        first.pop_back();
    return first;
}
