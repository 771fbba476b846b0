// Helpers for the updater tests: scratch folders, whole-file reads and running batch
// files with the system's command interpreter.
#pragma once

#include "base/paths.h"

#include <doctest/doctest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace update_fixtures {

inline std::wstring TempFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return temp;
}

// A fresh folder under the temporary folder whose name holds `name`.
inline std::wstring MakeFolder(const std::wstring& name) {
    static int counter = 0;
    std::wstring dir = JoinPath(TempFolder(), name + L"-" + std::to_wstring(GetTickCount64()) +
                                                  L"-" + std::to_wstring(++counter));
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

inline std::string ReadFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Starts a batch file with the system's command interpreter; the caller waits.
inline HANDLE StartScript(const std::wstring& script) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring cmd = JoinPath(system, L"cmd.exe");
    std::wstring line = L"\"" + cmd + L"\" /c \"" + script + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    REQUIRE(CreateProcessW(cmd.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                           nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

inline void RunScript(const std::wstring& script) {
    HANDLE process = StartScript(script);
    REQUIRE(WaitForSingleObject(process, 200000) == WAIT_OBJECT_0);
    CloseHandle(process);
}

} // namespace update_fixtures
