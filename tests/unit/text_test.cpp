#include <doctest/doctest.h>

#include "base/text.h"

#include <string>

TEST_CASE("JsonEscape escapes exactly the JSON control set") {
    CHECK(JsonEscape(L"C:\\Program Files\\OVRA\\a.exe") == L"C:\\\\Program Files\\\\OVRA\\\\a.exe");
    CHECK(JsonEscape(L"say \"hi\"\r\n\t") == L"say \\\"hi\\\"\\r\\n\\t");
    CHECK(JsonEscape(std::wstring(1, L'\x01')) == L"\\u0001");
    CHECK(JsonEscape(std::wstring(1, L'\x1f')) == L"\\u001f");
    CHECK(JsonEscape(std::wstring(1, L'\0')) == L"\\u0000");
    // Slash, apostrophe, DEL, Chinese and a lone surrogate pass through untouched.
    std::wstring untouched = L"a/b'c\x7f中文";
    untouched += L'\xd800';
    CHECK(JsonEscape(untouched) == untouched);
    CHECK(JsonEscape(std::wstring(40, L'\t')).size() == 80);
    CHECK(JsonEscape(L"") == L"");
}

TEST_CASE("UTF-8 and UTF-16 convert both ways") {
    CHECK(Utf8ToWide("").empty());
    CHECK(WideToUtf8(L"").empty());
    const std::wstring chinese = L"未检测到运行时 OVRA-Zirer 😀";
    std::string bytes = WideToUtf8(chinese);
    CHECK(bytes == "\xe6\x9c\xaa\xe6\xa3\x80\xe6\xb5\x8b\xe5\x88\xb0\xe8\xbf\x90\xe8\xa1\x8c\xe6"
                   "\x97\xb6 OVRA-Zirer \xf0\x9f\x98\x80");
    CHECK(Utf8ToWide(bytes) == chinese);
    // Embedded NULs are part of the text, not its end.
    CHECK(Utf8ToWide(std::string("a\0b", 3)) == std::wstring(L"a\0b", 3));
    // Malformed input becomes the replacement character instead of failing.
    CHECK(Utf8ToWide("a\xff") == L"a\xfffd");
}
