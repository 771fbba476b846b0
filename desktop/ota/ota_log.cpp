#include "ota/ota_log.h"

#include "app/paths.h"

#include <windows.h>
#include <shlobj.h>

namespace {

std::wstring LogFolder() {
    wchar_t base[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base)))
        return std::wstring();
    return JoinPath(base, L"OVRA-Zirer");
}

} // namespace

std::wstring OtaLogPath() {
    std::wstring folder = LogFolder();
    return folder.empty() ? folder : JoinPath(folder, L"ota.log");
}

void OtaLog(const std::string& line) {
    std::wstring folder = LogFolder();
    if (folder.empty())
        return;
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::string bytes = line + "\r\n";
    const std::wstring path = JoinPath(folder, L"ota.log");
    // Append-only access puts every write at the end of the file, so writers in other
    // threads and processes may share it; one write per line keeps lines whole. Someone
    // holding the file without write sharing gets a short grace period.
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
