#include "ota/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <cwctype>
#include <vector>

namespace {

bool HashFile(HANDLE file, BCRYPT_HASH_HANDLE hash, unsigned char (&digest)[32]) {
    std::vector<unsigned char> buffer(65536);
    DWORD read = 0;
    for (;;) {
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return false;
        if (read == 0)
            break;
        if (!BCRYPT_SUCCESS(BCryptHashData(hash, buffer.data(), read, 0)))
            return false;
    }
    return BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof(digest), 0));
}

} // namespace

std::wstring Sha256OfFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::wstring();
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[32] = {};
    bool done = false;
    if (BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        if (BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
            done = HashFile(file, hash, digest);
            BCryptDestroyHash(hash);
        }
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    CloseHandle(file);
    if (!done)
        return std::wstring();

    static const wchar_t hex[] = L"0123456789abcdef";
    std::wstring text;
    for (unsigned char b : digest) {
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    return text;
}

bool IsSha256Hex(const std::wstring& text) {
    if (text.size() != 64)
        return false;
    for (wchar_t c : text) {
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F')))
            return false;
    }
    return true;
}

bool SameDigest(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    }
    return true;
}
