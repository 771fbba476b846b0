#include "ota/ota_check.h"

#include "base/globals.h"
#include "base/json.h"
#include "base/text.h"
#include "ota/http_client.h"
#include "ota/manifest.h"
#include "ota/ota_log.h"
#include "ota/signature.h"
#include "ota/swap_script.h"
#include "ota/trial.h"

#include <cstdint>

OtaCheckResult ReadManifest(const std::string& body) {
    OtaCheckResult result;
    result.version = JsonGetString(body, "version");
    result.url = JsonGetString(body, "url");
    result.sha256 = JsonGetString(body, "sha256");
    result.notes = JsonGetString(body, "notes");
    result.force = HasForceFlag(body);
    int cmp = CompareVersions(AppVersion, result.version);
    // The version rolled back before this start is not offered again until the next one;
    // the script wrote it as it writes versions.
    result.available =
        !result.version.empty() && cmp == -1 && !result.url.empty() &&
        Utf8ToWide(ScriptVersion(WideToUtf8(result.version))) != UndoneUpdateVersion();

    // The values come from whoever answered the request: one line each, bounded.
    OtaLog("CheckOta local=" + WideToUtf8(AppVersion) + " remote=" + LogValue(result.version) +
           " cmp=" + std::to_string(cmp) + " available=" + (result.available ? "1" : "0") +
           " url=" + LogValue(result.url) + " sha256=" + LogValue(result.sha256));
    return result;
}

OtaCheckResult ReadManifestWithKey(const std::string& body, const std::string& publicKey) {
    if (publicKey.empty())
        return ReadManifest(body);
    ManifestTrust trust = CheckManifestSignature(
        publicKey, JsonGetString(body, "version"), JsonGetString(body, "url"),
        JsonGetString(body, "sha256"), JsonGetString(body, "signature"));
    if (trust == ManifestTrust::Signed)
        return ReadManifest(body);
    OtaCheckResult refused;
    refused.refused = ManifestRefusalReason(trust);
    OtaLog("CheckOta refused: " + WideToUtf8(refused.refused));
    return refused;
}

std::wstring RefusalMessage(const OtaCheckResult& result) {
    return L"update refused: " + result.refused;
}

OtaCheckResult CheckOta() {
    uint32_t status = 0;
    bool ok = false;
    std::string body = HttpGet(OVRA_OTA_MANIFEST_URL, &status, &ok);
    OtaLog("CheckOta http=" + std::to_string(status) + " ok=" + (ok ? "1" : "0") +
           " bytes=" + std::to_string(body.size()));
    if (!ok || body.empty()) {
        OtaLog("CheckOta failed or empty body");
        return OtaCheckResult();
    }
    return ReadManifestWithKey(body, BuiltInOtaKey());
}
