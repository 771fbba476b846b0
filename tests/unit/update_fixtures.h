// Helpers for the updater tests: scratch folders, whole-file reads and running batch
// files with the system's command interpreter.
#pragma once

#include "base/paths.h"

#include <doctest/doctest.h>
#include <winsock2.h>
#include <windows.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

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

// A one-connection HTTP server on a loopback port: it reads the request head, then
// `respond` writes whatever it likes and returns how to end: close or reset.
enum class End { Close, Reset };

struct Server {
    SOCKET listener = INVALID_SOCKET;
    int port = 0;
    std::thread worker;

    explicit Server(std::function<End(SOCKET)> respond) {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        REQUIRE(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0);
        int len = sizeof(addr);
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        listen(listener, 4);
        worker = std::thread([this, respond] {
            SOCKET s = accept(listener, nullptr, nullptr);
            if (s == INVALID_SOCKET)
                return;
            std::string head;
            char c;
            while (head.find("\r\n\r\n") == std::string::npos && recv(s, &c, 1, 0) == 1)
                head += c;
            if (respond(s) == End::Reset) {
                linger hard = {1, 0};
                setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&hard), sizeof(hard));
            } else {
                shutdown(s, SD_SEND);
            }
            closesocket(s);
        });
    }
    ~Server() {
        closesocket(listener);
        worker.join();
    }
    std::wstring Url() const { return L"http://127.0.0.1:" + std::to_wstring(port) + L"/ota/file"; }
};

// Sends everything, ignoring a client that went away.
inline void Send(SOCKET s, const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
        int n = send(s, bytes.data() + at, static_cast<int>(bytes.size() - at), 0);
        if (n <= 0)
            return;
        at += n;
    }
}

} // namespace update_fixtures
