// Readers for the update manifest beyond its string members. They search the raw text;
// nothing here validates JSON structure or sees nesting.
#pragma once

#include <string>
#include <vector>

// True when a "force" member is set to true (any JSON whitespace around the colon).
bool HasForceFlag(const std::string& text);

// Dotted decimal components, at least three (missing ones are 0).
std::vector<int> ParseVersion(const std::wstring& version);

// -1 when local is older than remote, 0 when the first three components match, 1 when
// local is newer.
int CompareVersions(const std::wstring& local, const std::wstring& remote);
