// Readers for the update manifest and for bridge messages. They search the raw text;
// nothing here validates JSON structure or sees nesting.
#pragma once

#include <string>
#include <vector>

// The string value of the first member named `key`, decoded; empty when the member is
// missing, is not a string, or the text ends before its value starts.
std::wstring JsonGetString(const std::string& text, const std::string& key);

// True when a "force" member is set to true (any JSON whitespace around the colon).
bool HasForceFlag(const std::string& text);

// Dotted decimal components, at least three (missing ones are 0).
std::vector<int> ParseVersion(const std::wstring& version);

// -1 when local is older than remote, 0 when the first three components match, 1 when
// local is newer.
int CompareVersions(const std::wstring& local, const std::wstring& remote);
