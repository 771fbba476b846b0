#include "launch.h"

#include "cdp.h"
#include "json.h"
#include "runtime.h"

#include <ws2tcpip.h>

#include <cstdlib>
#include <iterator>

namespace {

using UnixNameFn = char*(CDECL*)(LPCWSTR);

// Quotes one argument by the rules Wine uses to rebuild a Linux argv.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

std::wstring ModuleFolder() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleFolder), &self);
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(self, path, static_cast<DWORD>(std::size(path)));
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

SOCKET ListenLoopback(int& port) {
    SOCKET s =
        WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        listen(s, 1) || getsockname(s, reinterpret_cast<sockaddr*>(&address), &length)) {
        if (s != INVALID_SOCKET)
            closesocket(s);
        return INVALID_SOCKET;
    }
    port = ntohs(address.sin_port);
    return s;
}

SOCKET AcceptWithin(SOCKET listener, int ms) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener, &ready);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    if (select(0, &ready, nullptr, nullptr, &wait) != 1)
        return INVALID_SOCKET;
    return accept(listener, nullptr, nullptr);
}

// Chromium writes "<port>\n<browser path>" once its DevTools endpoint is listening.
bool ReadActivePort(const std::wstring& file, int& port, std::string& path) {
    HANDLE f = CreateFileW(file.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    char buffer[512];
    DWORD got = 0;
    ReadFile(f, buffer, sizeof buffer - 1, &got, nullptr);
    CloseHandle(f);
    std::string text(buffer, got);
    size_t newline = text.find('\n');
    if (newline == std::string::npos)
        return false;
    port = std::atoi(text.c_str());
    path = text.substr(newline + 1);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
        path.pop_back();
    return port > 0 && !path.empty();
}

// With a fixed port Chromium writes no port file; ask the endpoint itself instead.
bool AskVersionEndpoint(int port, std::string& path) {
    SOCKET s = ConnectLoopback(port);
    if (s == INVALID_SOCKET)
        return false;
    std::string request =
        "GET /json/version HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    send(s, request.data(), static_cast<int>(request.size()), 0);
    // The endpoint keeps the connection open, so read just the announced length.
    DWORD timeoutMs = 2000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
               sizeof timeoutMs);
    std::string response;
    char buffer[4096];
    int got;
    size_t start = std::string::npos, length = 0;
    while ((got = recv(s, buffer, sizeof buffer, 0)) > 0) {
        response.append(buffer, static_cast<size_t>(got));
        if (start == std::string::npos &&
            (start = response.find("\r\n\r\n")) != std::string::npos) {
            std::string head = response.substr(0, start);
            for (char& c : head)
                c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            size_t at = head.find("content-length:");
            length =
                at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 15, nullptr, 10);
            start += 4;
        }
        if (start != std::string::npos && length && response.size() >= start + length)
            break;
    }
    closesocket(s);
    JsonValue body;
    if (start == std::string::npos ||
        !ParseJson(response.substr(start, length ? length : std::string::npos), body))
        return false;
    std::string url = body.Str("webSocketDebuggerUrl"); // ws://127.0.0.1:port/devtools/...
    size_t slash = url.find('/', 5);
    if (url.compare(0, 5, "ws://") != 0 || slash == std::string::npos)
        return false;
    path = url.substr(slash);
    return true;
}

// The guard of a browser that still runs on this profile wrote its Linux process id into
// the mark; a mark whose guard is gone is left over from a killed session.
bool ProfileHeld(const std::wstring& mark) {
    HANDLE f = CreateFileW(mark.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    char buffer[32] = {};
    DWORD got = 0;
    ReadFile(f, buffer, sizeof buffer - 1, &got, nullptr);
    CloseHandle(f);
    int pid = std::atoi(buffer);
    if (pid <= 0)
        return false;
    std::wstring proc = L"Z:\\proc\\" + std::to_wstring(pid);
    return GetFileAttributesW(proc.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

std::wstring EnvVar(const wchar_t* name) {
    wchar_t buffer[4096];
    DWORD n = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
    return n && n < std::size(buffer) ? std::wstring(buffer, n) : std::wstring();
}

std::string UnixPath(const std::wstring& windowsPath) {
    // Wine's own answer covers every drive mapping, including ones made after start.
    auto unixName = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName) {
        if (char* name = unixName(windowsPath.c_str())) {
            std::string result(name);
            HeapFree(GetProcessHeap(), 0, name);
            return result;
        }
    }
    // Otherwise go through the prefix's drive links: dosdevices/c: -> ../drive_c.
    if (windowsPath.size() < 3 || windowsPath[1] != L':')
        return std::string();
    std::string rest = ToUtf8(windowsPath.substr(2));
    for (char& c : rest)
        if (c == '\\')
            c = '/';
    wchar_t drive = static_cast<wchar_t>(towlower(windowsPath[0]));
    if (drive == L'z')
        return rest;
    std::wstring prefix = EnvVar(L"WINEPREFIX");
    if (prefix.empty())
        prefix = EnvVar(L"HOME") + L"/.wine";
    return ToUtf8(prefix) + "/dosdevices/" + static_cast<char>(drive) + ":" + rest;
}

std::vector<std::wstring> SplitArguments(const std::wstring& text) {
    std::vector<std::wstring> args;
    std::wstring current;
    bool quoted = false, any = false;
    for (wchar_t c : text) {
        if (c == L'"') {
            quoted = !quoted;
            any = true;
        } else if ((c == L' ' || c == L'\t') && !quoted) {
            if (any)
                args.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        args.push_back(current);
    return args;
}

LaunchResult LaunchChromium(const std::wstring& userDataFolder, const std::wstring& extraArgs) {
    LaunchResult result;
    std::wstring profile = userDataFolder + L"\\EBWebView";
    CreateDirectoryW(profile.c_str(), nullptr);
    std::wstring busyMark = userDataFolder + L"\\standin-busy";
    // The real runtime cannot start on a folder whose browser processes are still
    // running (a previous run that has not ended yet): creation fails until they have.
    if (ProfileHeld(busyMark)) {
        TraceProtocol("launch: the user data folder is still in use");
        result.hr = HRESULT_FROM_WIN32(ERROR_BUSY);
        return result;
    }
    std::wstring portFile = profile + L"\\DevToolsActivePort";
    DeleteFileW(portFile.c_str()); // a stale one would point at a browser long gone

    std::string profileUnix = UnixPath(profile);
    std::string guardUnix = UnixPath(ModuleFolder() + L"\\chromium-guard.sh");
    std::string busyUnix = UnixPath(busyMark);
    if (profileUnix.empty() || guardUnix.empty() || busyUnix.empty())
        return result;

    int lifelinePort = 0;
    SOCKET listener = ListenLoopback(lifelinePort);
    if (listener == INVALID_SOCKET)
        return result;

    std::wstring chromium = EnvVar(L"OVRA_STANDIN_CHROMIUM");
    if (chromium.empty())
        chromium = L"/usr/bin/chromium";
    std::wstring cdpPort = EnvVar(L"OVRA_STANDIN_CDP_PORT");
    std::vector<std::wstring> args = {
        L"Z:\\bin\\bash", FromUtf8(guardUnix), std::to_wstring(lifelinePort),
        FromUtf8(profileUnix) + L"/../standin-chromium.log", FromUtf8(busyUnix),
        std::to_wstring(_wtoi(EnvVar(L"OVRA_STANDIN_LINGER_MS").c_str())), chromium,
        L"--no-sandbox", L"--disable-gpu", L"--no-first-run", L"--no-default-browser-check",
        L"--disable-background-networking", L"--disable-component-update", L"--disable-sync",
        L"--disable-features=Translate,MediaRouter,OptimizationHints", L"--password-store=basic",
        // No camera and no microphone here: the browser gets fake devices. Access to them
        // is granted per request, once the host has allowed it.
        L"--use-fake-device-for-media-stream",
        L"--remote-debugging-port=" + (cdpPort.empty() ? std::wstring(L"0") : cdpPort),
        L"--remote-allow-origins=*", L"--user-data-dir=" + FromUtf8(profileUnix)};
    bool visible = EnvVar(L"OVRA_STANDIN_VISIBLE") == L"1";
    if (!visible)
        args.push_back(L"--headless=new");
    // A WAV file as the microphone; "%noloop" at the end plays it once.
    std::wstring fakeAudio = EnvVar(L"OVRA_STANDIN_FAKE_AUDIO");
    if (!fakeAudio.empty()) {
        const std::wstring once = L"%noloop";
        bool noLoop = fakeAudio.size() > once.size() &&
                      fakeAudio.compare(fakeAudio.size() - once.size(), once.size(), once) == 0;
        if (noLoop)
            fakeAudio.resize(fakeAudio.size() - once.size());
        std::string file = fakeAudio[0] == L'/' ? ToUtf8(fakeAudio) : UnixPath(fakeAudio);
        args.push_back(L"--use-file-for-fake-audio-capture=" + FromUtf8(file) +
                       (noLoop ? once : std::wstring()));
    }
    for (const std::wstring& extra : SplitArguments(extraArgs))
        args.push_back(extra);
    for (const std::wstring& extra : SplitArguments(EnvVar(L"OVRA_STANDIN_CHROMIUM_ARGS")))
        args.push_back(extra);
    // A visible browser shows the page alone, in an application window without tabs or
    // address bar, as the control does.
    // (--test-type keeps the warning bar about --no-sandbox off the page.)
    if (visible)
        args.push_back(L"--test-type");
    args.push_back(visible ? L"--app=data:text/html," : L"about:blank");

    std::wstring commandLine;
    for (const std::wstring& arg : args)
        commandLine += (commandLine.empty() ? L"" : L" ") + Quote(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        closesocket(listener);
        result.hr = HRESULT_FROM_WIN32(GetLastError());
        return result;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    result.lifeline = AcceptWithin(listener, 10000);
    TraceProtocol(std::string("launch: guard ") +
                  (result.lifeline == INVALID_SOCKET ? "did not connect" : "connected"));
    closesocket(listener);
    if (result.lifeline == INVALID_SOCKET)
        return result;

    int fixedPort = _wtoi(cdpPort.c_str());
    for (int waited = 0; waited < 30000; waited += 50) {
        bool found = fixedPort > 0 ? AskVersionEndpoint(fixedPort, result.browserPath)
                                   : ReadActivePort(portFile, result.port, result.browserPath);
        if (found) {
            if (fixedPort > 0)
                result.port = fixedPort;
            result.hr = S_OK;
            return result;
        }
        Sleep(50);
    }
    closesocket(result.lifeline); // the guard takes Chromium down with it
    result.lifeline = INVALID_SOCKET;
    result.hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    return result;
}
