#include "ota/signature.h"

#include "base/utf8.h"

// OVRA_OTA_KEY_HEX comes from the build: 128 hexadecimal digits, or empty for a build
// without a key.
std::string BuiltInOtaKey() {
    static const char hex[] = OVRA_OTA_KEY_HEX;
    std::string point;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        point += static_cast<char>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1]));
    return point;
}
