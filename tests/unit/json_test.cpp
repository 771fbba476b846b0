#include <doctest/doctest.h>

#include "base/json.h"

#include <string>

TEST_CASE("string members: escapes") {
    CHECK(JsonGetString(R"({"notes":"a\"b\\c\/d"})", "notes") == L"a\"b\\c/d");
    CHECK(JsonGetString(R"({"notes":"1\n2\t3\r4\b5\f6"})", "notes") == L"1\n2\t3\r4\b5\f6");
    CHECK(JsonGetString(R"({"notes":"caf\u00e9 \u4fee\u590d"})", "notes") == L"café 修复");
    // A surrogate pair is one character beyond the basic plane; a lone half is replaced.
    CHECK(JsonGetString(R"({"n":"\ud83d\ude00!"})", "n") == L"\U0001F600!");
    CHECK(JsonGetString(R"({"n":"\ud83dx"})", "n") == L"\uFFFDx");
    CHECK(JsonGetString(R"({"n":"\ude00"})", "n") == L"\uFFFD");
    // Not four hex digits: the letter stays, nothing is swallowed.
    CHECK(JsonGetString(R"({"n":"\u12"})", "n") == L"u12");
    // A backslash as the very last byte is kept; an unterminated value runs to the end.
    CHECK(JsonGetString("{\"n\":\"ab\\", "n") == L"ab\\");
    CHECK(JsonGetString("{\"n\":\"abc", "n") == L"abc");
}

TEST_CASE("string members: non-ASCII, byte-order mark, missing and non-string values") {
    CHECK(JsonGetString("{\"notes\":\"\xE4\xBF\xAE\xE5\xA4\x8D\"}", "notes") == L"修复");
    CHECK(JsonGetString("\xEF\xBB\xBF{\"version\": \"1.0.5\"}", "version") == L"1.0.5");
    CHECK(JsonGetString(R"({"version":"1.0.5"})", "url").empty());
    CHECK(JsonGetString(R"({"version" "1.0.5"})", "version").empty());
    CHECK(JsonGetString(R"({"version":)", "version").empty());
    CHECK(JsonGetString(R"({"version")", "version").empty());
    // A number, object or literal must not pick up the next member's text.
    CHECK(JsonGetString(R"({"version":2,"url":"http://x"})", "version").empty());
    CHECK(JsonGetString(R"({"version":{"a":"b"}})", "version").empty());
    CHECK(JsonGetString(R"({"version":null,"url":"u"})", "version").empty());
    CHECK(JsonGetString("{\"version\" :\r\n\t \"1.2\"}", "version") == L"1.2");
}

TEST_CASE("string members: the first occurrence of the quoted key wins") {
    CHECK(JsonGetString(R"({"meta":{"version":"9.9.9"},"version":"1.0.5"})", "version") ==
          L"9.9.9");
    CHECK(JsonGetString(R"({"cmd":"checkOta","x":{"cmd":"applyOta"}})", "cmd") == L"checkOta");
    // The key must match whole, quotes included.
    CHECK(JsonGetString(R"({"subversion":"x","version":"1"})", "version") == L"1");
}
