// The update check: is a newer executable on offer, and where is it?
#pragma once

#include <string>

struct OtaCheckResult {
    std::wstring version;
    std::wstring url;
    std::wstring sha256;
    std::wstring notes;
    bool available = false;
    bool force = false;
    // Why a build with a signing key refused the manifest it got; empty otherwise. A
    // refused manifest leaves every other field as a failed check does.
    std::wstring refused;
};

// Fills a result from a manifest body and logs the comparison line. `available` needs a
// remote version newer than the built-in one, not the one undone before this start,
// and a download URL.
OtaCheckResult ReadManifest(const std::string& body);

// ReadManifest for a build whose manifests must be signed with `publicKey` (see
// ota/signature.h); an empty key takes any manifest, as a build without a key does. A
// manifest that does not verify is logged and refused, and none of its values is used.
OtaCheckResult ReadManifestWithKey(const std::string& body, const std::string& publicKey);

// The text the console and the page show for a refused manifest.
std::wstring RefusalMessage(const OtaCheckResult& result);

// Fetches the built-in manifest URL and reads it; a failed fetch returns an empty,
// not-available result. Writes two lines to the OTA log either way.
OtaCheckResult CheckOta();
