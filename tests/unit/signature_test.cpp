#include <doctest/doctest.h>

#include "bridge/ota_tasks.h"
#include "base/text.h"
#include "ota/ota_check.h"
#include "ota/ota_log.h"
#include "ota/signature.h"
#include "signed_manifests.h"

#include <windows.h>

#include <string>

namespace {

const std::string TestKey(reinterpret_cast<const char*>(TestKeyPoint), 64);
const std::string OtherKey(reinterpret_cast<const char*>(OtherKeyPoint), 64);

std::string Raw(const char* base64) {
    std::string out;
    REQUIRE(DecodeBase64(base64, out));
    return out;
}

std::string LogTail(size_t from) {
    HANDLE file =
        CreateFileW(OtaLogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
    CloseHandle(file);
    return from < text.size() ? text.substr(from) : std::string();
}

size_t LogSize() {
    return LogTail(0).size();
}

} // namespace

TEST_CASE("the signed message: fixed first line, one value per line, no line breaks inside") {
    std::wstring url = L"http://updates.example/ota/OVRA-Zirer.exe";
    CHECK(SignedManifestMessage(L"1.0.5", url, Utf8ToWide(OfferedDigest)) == SignedMessageSample);
    CHECK(SignedManifestMessage(L"1.0.5", L"http://a/\u66f4\u65b0.exe", L"ab") ==
          "OVRA-Zirer update manifest v1\n1.0.5\nhttp://a/\xE6\x9B\xB4\xE6\x96\xB0.exe\nab\n");
    CHECK(SignedManifestMessage(L"1.0.5\n", url, L"ab").empty());
    CHECK(SignedManifestMessage(L"1.0.5", L"http://a\rb", L"ab").empty());
    CHECK(SignedManifestMessage(L"1.0.5", url, L"ab\n").empty());
}

TEST_CASE("base64: the standard alphabet, padding optional, nothing else") {
    std::string out;
    CHECK(DecodeBase64("TWFu", out));
    CHECK(out == "Man");
    CHECK(DecodeBase64("TWE=", out));
    CHECK(out == "Ma");
    CHECK(DecodeBase64("TWE", out));
    CHECK(out == "Ma");
    CHECK(DecodeBase64("TQ==", out));
    CHECK(out == "M");
    CHECK(DecodeBase64("+/+/", out));
    CHECK(out == "\xFB\xFF\xBF");
    CHECK(DecodeBase64("", out));
    CHECK(out.empty());
    CHECK_FALSE(DecodeBase64("TW Fu", out)); // white space
    CHECK_FALSE(DecodeBase64("TWF-", out));  // the URL alphabet
    CHECK_FALSE(DecodeBase64("TWFuT", out)); // a lone sixth of a byte
    CHECK_FALSE(DecodeBase64("TQ=", out));   // padding that does not complete a group
    CHECK_FALSE(DecodeBase64("T===", out));
    CHECK_FALSE(DecodeBase64("TR==", out)); // stray bits: a second spelling of "M"
    CHECK(Raw(SignedMessageSignature).size() == 64);
}

TEST_CASE("the system's ECDSA verifies the release command's signature and nothing else") {
    std::string message = SignedMessageSample;
    std::string signature = Raw(SignedMessageSignature);
    CHECK(VerifyP256Signature(TestKey, message, signature));

    CHECK_FALSE(VerifyP256Signature(OtherKey, message, signature));
    std::string changed = message;
    changed[changed.size() - 2] ^= 1;
    CHECK_FALSE(VerifyP256Signature(TestKey, changed, signature));
    for (size_t at : {0u, 31u, 32u, 63u}) {
        std::string bad = signature;
        bad[at] ^= 0x40;
        CHECK_FALSE(VerifyP256Signature(TestKey, message, bad));
    }
    CHECK_FALSE(VerifyP256Signature(TestKey, message, std::string(64, '\0')));
    CHECK_FALSE(VerifyP256Signature(TestKey, message, signature.substr(0, 63)));
    CHECK_FALSE(VerifyP256Signature(TestKey, message, signature + "x"));
    CHECK_FALSE(VerifyP256Signature(std::string(64, '\x01'), message, signature));
    CHECK_FALSE(VerifyP256Signature(std::string(), message, signature));
}

TEST_CASE("with a key only a manifest signed by it is taken, and the refusal is logged") {
    OtaCheckResult good = ReadManifestWithKey(ManifestGood, TestKey);
    CHECK(good.available);
    CHECK(good.refused.empty());
    CHECK(good.version == L"1.0.5");
    CHECK(good.url == L"http://updates.example/ota/OVRA-Zirer.exe");
    CHECK(good.sha256 == Utf8ToWide(OfferedDigest));
    CHECK(good.notes == L"修复");
    CHECK(ReadManifestWithKey(ManifestUpperDigest, TestKey).available);

    // A signed offer that is not newer is simply no update.
    OtaCheckResult same = ReadManifestWithKey(ManifestNotNewer, TestKey);
    CHECK_FALSE(same.available);
    CHECK(same.refused.empty());

    struct Case {
        const char* manifest;
        const wchar_t* reason;
    };
    const Case refusals[] = {
        {ManifestUnsigned, L"manifest is not signed"},
        {ManifestOtherKey, L"manifest signature does not verify"},
        {ManifestOtherUrl, L"manifest signature does not verify"},
        {ManifestOtherVersion, L"manifest signature does not verify"},
        {ManifestOtherDigest, L"manifest signature does not verify"},
        {ManifestTruncated, L"manifest signature is malformed"},
        {ManifestNotBase64, L"manifest signature is malformed"},
        {ManifestNoDigest, L"signed manifest has no valid sha256 digest"},
        {ManifestLineBreak, L"manifest value holds a line break"},
        {"<html><body>Not Found</body></html>", L"manifest is not signed"},
    };
    for (const Case& c : refusals) {
        CAPTURE(c.manifest);
        size_t mark = LogSize();
        OtaCheckResult r = ReadManifestWithKey(c.manifest, TestKey);
        CHECK(r.refused == c.reason);
        CHECK(RefusalMessage(r) == std::wstring(L"update refused: ") + c.reason);
        // Nothing of a refused manifest reaches the caller.
        CHECK_FALSE(r.available);
        CHECK_FALSE(r.force);
        CHECK(r.version.empty());
        CHECK(r.url.empty());
        CHECK(r.sha256.empty());
        CHECK(r.notes.empty());
        CHECK(LogTail(mark) == "CheckOta refused: " + WideToUtf8(c.reason) + "\r\n");
    }
    // The same manifest is good for the other key only.
    CHECK(ReadManifestWithKey(ManifestOtherKey, OtherKey).available);
    CHECK(ReadManifestWithKey(ManifestGood, OtherKey).refused ==
          L"manifest signature does not verify");
}

TEST_CASE("without a key every manifest is taken as it stands") {
    for (const char* manifest : {ManifestUnsigned, ManifestOtherKey, ManifestOtherUrl}) {
        OtaCheckResult r = ReadManifestWithKey(manifest, std::string());
        CHECK(r.available);
        CHECK(r.refused.empty());
    }
    CHECK(ReadManifestWithKey(ManifestOtherUrl, std::string()).url ==
          L"http://evil.example/ota/OVRA-Zirer.exe");
    CHECK(ReadManifestWithKey(R"({"version":"1.0.5","url":"u"})", std::string()).available);
}

TEST_CASE("a refused check tells the page why, a plain one stays as it was") {
    OtaCheckResult r = ReadManifestWithKey(ManifestUnsigned, TestKey);
    CHECK(CheckStatusPayload(r) == L"{\"available\":false,\"version\":\"\",\"error\":\"update "
                                   L"refused: manifest is not signed\"}");
    CHECK(CheckStatusPayload(OtaCheckResult{}) == L"{\"available\":false,\"version\":\"\"}");
}
