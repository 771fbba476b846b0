#include <doctest/doctest.h>

#include "base/json.h"
#include "base/text.h"
#include "ota/manifest.h"

#include <random>
#include <string>
#include <vector>

TEST_CASE("force flag: true with any JSON whitespace around the colon") {
    CHECK(HasForceFlag(R"({"force":true})"));
    CHECK(HasForceFlag(R"({"force": true})"));
    CHECK(HasForceFlag("{\"force\"\t:\n  true}"));
    CHECK(HasForceFlag(R"({"force" : true})"));
    CHECK_FALSE(HasForceFlag(R"({"force": false})"));
    CHECK_FALSE(HasForceFlag(R"({"force": "true"})"));
    CHECK_FALSE(HasForceFlag(R"({"Force": true})"));
    CHECK_FALSE(HasForceFlag(R"({"version":"1"})"));
    // A later member can still set it when an earlier mention does not.
    CHECK(HasForceFlag(R"({"notes":"\"force\"","force":true})"));
}

TEST_CASE("versions: numeric components, three compared") {
    CHECK(ParseVersion(L"1.0.4") == std::vector<int>{1, 0, 4});
    CHECK(ParseVersion(L"2") == std::vector<int>{2, 0, 0});
    CHECK(ParseVersion(L"") == std::vector<int>{0, 0, 0});
    CHECK(ParseVersion(L"1..2") == std::vector<int>{1, 0, 2});
    CHECK(ParseVersion(L"1.0.4-beta") == std::vector<int>{1, 0, 4});
    CHECK(ParseVersion(L"v1.2") == std::vector<int>{0, 2, 0});
    CHECK(ParseVersion(L"1.2.3.4") == std::vector<int>{1, 2, 3, 4});
    CHECK(ParseVersion(L" -3.+4.99999999999") == std::vector<int>{-3, 4, 2147483647});
    CHECK(ParseVersion(L"-99999999999") == std::vector<int>{-2147483647 - 1, 0, 0});

    CHECK(CompareVersions(L"1.0.9", L"1.0.10") == -1);
    CHECK(CompareVersions(L"1.0.10", L"1.0.9") == 1);
    CHECK(CompareVersions(L"1.0.4", L"1.0.5") == -1);
    CHECK(CompareVersions(L"1.0.4", L"1.0.3") == 1);
    CHECK(CompareVersions(L"1.0.4", L"2") == -1);
    CHECK(CompareVersions(L"1.0.4", L"") == 1);
    CHECK(CompareVersions(L"1.0.4", L"1.0.4.1") == 0);
    CHECK(CompareVersions(L"1.0.4", L"1.0.4") == 0);
}

namespace {

std::wstring RandomText(std::mt19937& rng) {
    static const std::vector<unsigned> pool = {'a',    'Z',    '0',  ' ',  '"',  '\\', '/',  '\n',
                                               '\t',   '\r',   0x08, 0x0C, 0x01, 0x1F, 0xE9, 0x4FEE,
                                               0x590D, 0xFFFD, ':',  '{',  '}',  ','};
    std::wstring s;
    int n = static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) {
        if (rng() % 10 == 0) {
            s += static_cast<wchar_t>(0xD83D); // a valid pair: U+1F600
            s += static_cast<wchar_t>(0xDE00);
        } else {
            s += static_cast<wchar_t>(pool[rng() % pool.size()]);
        }
    }
    return s;
}

std::string Mutate(std::string text, std::mt19937& rng) {
    static const char* const inserts[] = {
        "\"",   "\\",   "\\u",       "\\ud83d",      ":", "{", "}", "\xEF\xBB\xBF",
        "\xC3", "\xFF", "\"force\"", "\"version\":", " "};
    int edits = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < edits; ++i) {
        size_t pos = text.empty() ? 0 : rng() % (text.size() + 1);
        switch (rng() % 4) {
        case 0:
            if (!text.empty() && pos < text.size())
                text[pos] = static_cast<char>(rng() % 256);
            break;
        case 1:
            text.insert(pos, inserts[rng() % (sizeof(inserts) / sizeof(inserts[0]))]);
            break;
        case 2:
            if (pos < text.size())
                text.erase(pos, 1 + rng() % 8);
            break;
        default:
            text.resize(pos);
        }
    }
    return text;
}

} // namespace

TEST_CASE("escaped text round-trips and mutated input never breaks the readers") {
    std::mt19937 rng(20240605);
    // Whatever the host escapes, the reader gives back unchanged.
    for (int i = 0; i < 2000; ++i) {
        std::wstring value = RandomText(rng);
        std::string text =
            "{\"cmd\":\"x\",\"notes\":\"" + WideToUtf8(JsonEscape(value)) + "\",\"force\":true}";
        REQUIRE(JsonGetString(text, "notes") == value);
    }
    const std::string seeds[] = {
        "{\n  \"version\": \"1.0.5\",\n  \"url\": \"http://127.0.0.1:8791/ota/OVRA-Zirer.exe\",\n"
        "  \"sha256\": \"" +
            std::string(64, 'a') +
            "\",\n  \"notes\": \"\\u4fee\\u590d\\n\",\n"
            "  \"force\": false\n}",
        R"({"cmd":"openExternal","url":"https://example.com/?q=\"x\""})",
        R"({"cmd":"applyOta"})",
        R"({"cmd":"window","action":"maximize"})",
    };
    const char* const keys[] = {"version", "url", "sha256", "notes", "cmd", "action", "force"};
    size_t seen = 0;
    for (int i = 0; i < 10000; ++i) {
        std::string text = Mutate(seeds[i % 4], rng);
        for (const char* key : keys)
            seen += JsonGetString(text, key).size();
        seen += HasForceFlag(text) ? 1 : 0;
        std::wstring version = JsonGetString(text, "version");
        REQUIRE(ParseVersion(version).size() >= 3);
        int cmp = CompareVersions(L"1.0.4", version);
        REQUIRE((cmp >= -1 && cmp <= 1));
    }
    CHECK(seen > 0);
}
