// Text helpers shared by every producer of bridge JSON, logs and scripts.
#pragma once

#include <string>

// UTF-8 <-> UTF-16 (flags 0: malformed input becomes U+FFFD, nothing fails).
std::wstring Utf8ToWide(const std::string& bytes);
std::string WideToUtf8(const std::wstring& text);

// Escapes text for the inside of a JSON string literal (no surrounding quotes).
std::wstring JsonEscape(const std::wstring& text);

// Decodes every %XX escape (either case of hex digit); anything else stays as it is.
std::string PercentDecode(const std::string& text);
