// The JSON member reader for update manifests and page requests. It searches the raw
// text; nothing here validates JSON structure or sees nesting.
#pragma once

#include <string>

// The string value of the first member named `key`, decoded; empty when the member is
// missing, is not a string, or the text ends before its value starts.
std::wstring JsonGetString(const std::string& text, const std::string& key);

// The four whitespace characters JSON allows between tokens.
bool IsJsonSpace(char c);
