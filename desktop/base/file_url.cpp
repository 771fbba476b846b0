#include "base/file_url.h"

#include <cctype>
#include <cstring>

namespace {

bool IsDrive(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           (path[1] == ':' || path[1] == '|') && (path.size() == 2 || path[2] == '/');
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

bool SplitFileUrl(const std::string& url, std::string& server, std::string& path) {
    if (Lower(url.substr(0, 5)) != "file:")
        return false;
    std::string rest = url.substr(5);
    for (char& c : rest)
        if (c == '\\')
            c = '/';
    size_t slashes = rest.find_first_not_of('/');
    if (slashes == std::string::npos)
        slashes = rest.size();
    rest.erase(0, slashes);
    server.clear();
    if (slashes != 3 && slashes >= 2 && !IsDrive(rest)) {
        size_t end = rest.find('/');
        server = Lower(rest.substr(0, end));
        rest.erase(0, end == std::string::npos ? rest.size() : end + 1);
        if (server == "localhost")
            server.clear();
    }
    path = rest;
    return true;
}

bool TakeDrive(std::string& path) {
    if (!IsDrive(path))
        return false;
    path[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    path[1] = ':';
    return true;
}
