#include "base/files.h"

#include "base/paths.h"

#include <windows.h>
#include <shlobj.h>

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadLeadingWord(void* file) {
    char buffer[64] = {};
    DWORD read = 0;
    if (!ReadFile(file, buffer, sizeof(buffer) - 1, &read, nullptr))
        return std::string();
    std::string word(buffer, read);
    while (!word.empty() && static_cast<unsigned char>(word.back()) <= ' ')
        word.pop_back();
    return word;
}

bool WriteWholeFile(const std::wstring& path, const void* data, size_t size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // One WriteFile takes at most 4 GB less one byte, so larger data goes in pieces.
    const char* next = static_cast<const char*>(data);
    bool ok = true;
    while (ok && size > 0) {
        DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        ok = WriteFile(file, next, piece, &written, nullptr) && written == piece;
        next += piece;
        size -= piece;
    }
    CloseHandle(file);
    return ok;
}

std::wstring AppDataFolder() {
    wchar_t base[MAX_PATH + 1] = {};
    std::wstring folder;
    if (SUCCEEDED(
            SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base)) &&
        base[0]) {
        folder = base;
    } else {
        DWORD n = GetTempPathW(MAX_PATH + 1, base);
        if (n == 0 || n > MAX_PATH)
            return std::wstring();
        folder.assign(base, n);
    }
    folder = JoinPath(folder, L"OVRA-Zirer");
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}
