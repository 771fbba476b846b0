#include "ota/signature.h"

#include "base/text.h"
#include "ota/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

namespace {

const char* const SignedMessageFirstLine = "OVRA-Zirer update manifest v1\n";

bool HasLineBreak(const std::wstring& text) {
    return text.find_first_of(L"\r\n") != std::wstring::npos;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool Sha256(const std::string& data, unsigned char (&digest)[32]) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return false;
    NTSTATUS status =
        BCryptHash(algorithm, nullptr, 0, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                   static_cast<ULONG>(data.size()), digest, sizeof(digest));
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return BCRYPT_SUCCESS(status);
}

} // namespace

std::string SignedManifestMessage(const std::wstring& version, const std::wstring& url,
                                  const std::wstring& sha256) {
    if (HasLineBreak(version) || HasLineBreak(url) || HasLineBreak(sha256))
        return std::string();
    return SignedMessageFirstLine + WideToUtf8(version) + "\n" + WideToUtf8(url) + "\n" +
           WideToUtf8(sha256) + "\n";
}

bool DecodeBase64(const std::string& text, std::string& out) {
    out.clear();
    size_t end = text.size();
    // Up to two padding characters, and only where they complete the last group.
    if (end % 4 == 0) {
        for (int i = 0; i < 2 && end > 0 && text[end - 1] == '='; ++i)
            --end;
    }
    if (end % 4 == 1)
        return false;
    unsigned long acc = 0;
    int bits = 0;
    for (size_t i = 0; i < end; ++i) {
        int v = Base64Value(text[i]);
        if (v < 0)
            return false;
        acc = (acc << 6) | static_cast<unsigned long>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    // Left-over bits must be zero, so each byte string has exactly one encoding.
    return (acc & ((1UL << bits) - 1)) == 0;
}

bool VerifyP256Signature(const std::string& publicPoint, const std::string& message,
                         const std::string& signature) {
    if (publicPoint.size() != 64 || signature.size() != 64)
        return false;
    unsigned char digest[32] = {};
    if (!Sha256(message, digest))
        return false;

    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64] = {};
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof(header));
    std::memcpy(blob + sizeof(header), publicPoint.data(), 64);
    unsigned char sig[64] = {};
    std::memcpy(sig, signature.data(), 64);

    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        return false;
    bool verified = false;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob,
                                           sizeof(blob), 0))) {
        verified =
            BCryptVerifySignature(key, nullptr, digest, sizeof(digest), sig, sizeof(sig), 0) == 0;
        BCryptDestroyKey(key);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return verified;
}

ManifestTrust CheckManifestSignature(const std::string& publicPoint, const std::wstring& version,
                                     const std::wstring& url, const std::wstring& sha256,
                                     const std::wstring& signature) {
    if (signature.empty())
        return ManifestTrust::NotSigned;
    std::string message = SignedManifestMessage(version, url, sha256);
    if (message.empty())
        return ManifestTrust::LineBreak;
    if (!IsSha256Hex(sha256))
        return ManifestTrust::NoDigest;
    std::string raw;
    if (!DecodeBase64(WideToUtf8(signature), raw) || raw.size() != 64)
        return ManifestTrust::MalformedSignature;
    return VerifyP256Signature(publicPoint, message, raw) ? ManifestTrust::Signed
                                                          : ManifestTrust::BadSignature;
}

std::wstring ManifestRefusalReason(ManifestTrust trust) {
    switch (trust) {
    case ManifestTrust::Signed:
        return std::wstring();
    case ManifestTrust::NotSigned:
        return L"manifest is not signed";
    case ManifestTrust::LineBreak:
        return L"manifest value holds a line break";
    case ManifestTrust::NoDigest:
        return L"signed manifest has no valid sha256 digest";
    case ManifestTrust::MalformedSignature:
        return L"manifest signature is malformed";
    case ManifestTrust::BadSignature:
        return L"manifest signature does not verify";
    }
    return L"manifest signature does not verify";
}
