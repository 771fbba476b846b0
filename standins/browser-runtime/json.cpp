#include "base/utf8.h"
#include "json.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Reader {
    const std::string& s;
    size_t pos = 0;
    int depth = 0;

    void SkipSpace() {
        while (pos < s.size() &&
               (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r'))
            ++pos;
    }
    bool Literal(const char* word) {
        size_t n = std::strlen(word);
        if (s.compare(pos, n, word) != 0)
            return false;
        pos += n;
        return true;
    }
    bool Hex4(unsigned& value) {
        if (pos + 4 > s.size())
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            char c = s[pos++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= c - '0';
            else if (c >= 'a' && c <= 'f')
                value |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                value |= c - 'A' + 10;
            else
                return false;
        }
        return true;
    }
    bool StringBody(std::string& out) {
        ++pos; // opening quote
        while (pos < s.size()) {
            char c = s[pos++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos >= s.size())
                return false;
            char e = s[pos++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                unsigned cp;
                if (!Hex4(cp))
                    return false;
                if (cp >= 0xD800 && cp < 0xDC00 && s.compare(pos, 2, "\\u") == 0) {
                    size_t save = pos;
                    pos += 2;
                    unsigned low;
                    if (Hex4(low) && low >= 0xDC00 && low < 0xE000)
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    else
                        pos = save;
                }
                AppendUtf8(out, cp);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    // The comma-separated items of an object or array whose opening bracket is at pos,
    // up to and including `close`; `item` reads one item.
    template <typename Item> bool Sequence(char close, Item item) {
        ++pos;
        SkipSpace();
        if (pos < s.size() && s[pos] == close) {
            ++pos;
            return true;
        }
        for (;;) {
            if (!item())
                return false;
            SkipSpace();
            if (pos < s.size() && s[pos] == ',') {
                ++pos;
                continue;
            }
            return pos < s.size() && s[pos++] == close;
        }
    }
    bool Value(JsonValue& v) {
        if (++depth > 200)
            return false;
        SkipSpace();
        if (pos >= s.size())
            return false;
        size_t start = pos;
        bool ok = true;
        char c = s[pos];
        if (c == '{') {
            v.kind = JsonValue::Object;
            ok = Sequence('}', [&] {
                SkipSpace();
                std::string key;
                if (pos >= s.size() || s[pos] != '"' || !StringBody(key))
                    return false;
                SkipSpace();
                if (pos >= s.size() || s[pos++] != ':')
                    return false;
                v.members.emplace_back(std::move(key), JsonValue());
                return Value(v.members.back().second);
            });
        } else if (c == '[') {
            v.kind = JsonValue::Array;
            ok = Sequence(']', [&] {
                v.items.emplace_back();
                return Value(v.items.back());
            });
        } else if (c == '"') {
            v.kind = JsonValue::String;
            ok = StringBody(v.text);
        } else if (Literal("true")) {
            v.kind = JsonValue::Bool;
            v.boolean = true;
        } else if (Literal("false")) {
            v.kind = JsonValue::Bool;
        } else if (Literal("null")) {
            v.kind = JsonValue::Null;
        } else {
            char* end = nullptr;
            v.number = std::strtod(s.c_str() + pos, &end);
            size_t used = static_cast<size_t>(end - (s.c_str() + pos));
            ok = used > 0;
            pos += used;
            v.kind = JsonValue::Number;
        }
        if (ok)
            v.raw = s.substr(start, pos - start);
        --depth;
        return ok;
    }
};

} // namespace

const JsonValue* JsonValue::Find(const char* key) const {
    for (const auto& member : members)
        if (member.first == key)
            return &member.second;
    return nullptr;
}

std::string JsonValue::Str(const char* key) const {
    const JsonValue* v = Find(key);
    return v && v->kind == String ? v->text : std::string();
}

double JsonValue::Num(const char* key) const {
    const JsonValue* v = Find(key);
    return v && v->kind == Number ? v->number : 0;
}

bool ParseJson(const std::string& input, JsonValue& out) {
    Reader reader{input};
    out = JsonValue();
    if (!reader.Value(out))
        return false;
    reader.SkipSpace();
    return reader.pos == input.size();
}

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}
