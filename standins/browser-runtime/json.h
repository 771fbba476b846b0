// A small JSON reader for DevTools protocol messages. Every value keeps its exact source
// text, so results can be handed on as JSON without re-serialising them.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    std::string raw;  // the value's text as it appeared in the input
    std::string text; // decoded UTF-8 for strings
    double number = 0;
    bool boolean = false;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    const JsonValue* Find(const char* key) const;
    // Member lookups that fall back to an empty string / zero / false.
    std::string Str(const char* key) const;
    double Num(const char* key) const;
    bool Has(const char* key) const { return Find(key) != nullptr; }
};

// False for malformed input or trailing garbage.
bool ParseJson(const std::string& input, JsonValue& out);

// `text` (UTF-8) as a quoted JSON string literal.
std::string JsonQuote(const std::string& text);
