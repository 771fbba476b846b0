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
};

// Fills a result from a manifest body and logs the comparison line. `available` needs a
// remote version newer than the built-in one and a download URL.
OtaCheckResult ReadManifest(const std::string& body);

// Fetches the built-in manifest URL and reads it; a failed fetch returns an empty,
// not-available result. Writes two lines to the OTA log either way.
OtaCheckResult CheckOta();
