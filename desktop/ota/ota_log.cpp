#include "ota/ota_log.h"

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"

#include <windows.h>

#include <cwchar>

namespace {

void AppendOnce(const std::wstring& path, const std::string& bytes) {
    // Someone holding the file without write sharing gets a short grace period.
    for (int attempt = 0; attempt < 20; ++attempt) {
        HANDLE file =
            CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION)
            return;
        Sleep(10);
    }
}

} // namespace

std::wstring OtaLogPath() {
    std::wstring folder = AppDataFolder();
    return folder.empty() ? folder : JoinPath(folder, L"ota.log");
}

void OtaLog(const std::string& line) {
    std::wstring folder = AppDataFolder();
    if (folder.empty())
        return;
    // Other threads and processes append too, so the file is shared for writing. Append
    // access alone is not atomic everywhere (end-of-file is found, then written), so
    // writers also take turns; a writer that waits too long writes anyway.
    HANDLE turn = CreateMutexW(nullptr, FALSE, L"Local\\OVRA-Zirer-OtaLog");
    DWORD wait = turn ? WaitForSingleObject(turn, 2000) : WAIT_FAILED;
    AppendOnce(JoinPath(folder, L"ota.log"), line + "\r\n");
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        ReleaseMutex(turn);
    if (turn)
        CloseHandle(turn);
}

std::string OneLine(const std::wstring& value, size_t cap) {
    std::wstring out;
    size_t shown = 0;
    for (wchar_t c : value) {
        if (shown == cap) {
            out += L"...";
            break;
        }
        ++shown;
        wchar_t escape[8] = {};
        if (c == L'\n')
            out += L"\\n";
        else if (c == L'\r')
            out += L"\\r";
        else if (c == L'\t')
            out += L"\\t";
        else if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            std::swprintf(escape, 8, L"\\x%02X", static_cast<unsigned>(c));
            out += escape;
        } else if (c == 0x2028 || c == 0x2029) {
            std::swprintf(escape, 8, L"\\u%04X", static_cast<unsigned>(c));
            out += escape;
        } else
            out += c;
    }
    return WideToUtf8(out);
}

std::string LogValue(const std::wstring& value) {
    return OneLine(value, 200);
}
