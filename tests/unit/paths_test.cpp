#include <doctest/doctest.h>

#include "base/paths.h"

#include <string>

TEST_CASE("paths and the page URL") {
    CHECK(JoinPath(L"", L"ui") == L"ui");
    CHECK(JoinPath(L"C:\\", L"ui") == L"C:\\ui");
    CHECK(JoinPath(L"C:/a/", L"ui") == L"C:/a/ui");
    CHECK(JoinPath(L"C:\\A B", L"ui\\index.html") == L"C:\\A B\\ui\\index.html");

    CHECK(FileUrlFromPath(L"C:\\A B\\ui\\index.html") == L"file:///C:/A B/ui/index.html");
    CHECK(FileUrlFromPath(L"C:\\新 建\\ui\\index.html") == L"file:///C:/新 建/ui/index.html");
    // A program started from a share, however the system names its path.
    CHECK(ShareSpelledPath(L"UNC\\srv\\tools\\OVRA-Zirer.exe") ==
          L"\\\\srv\\tools\\OVRA-Zirer.exe");
    CHECK(ShareSpelledPath(L"\\\\?\\UNC\\srv\\tools\\OVRA-Zirer.exe") ==
          L"\\\\srv\\tools\\OVRA-Zirer.exe");
    CHECK(ShareSpelledPath(L"C:\\UNC\\OVRA-Zirer.exe") == L"C:\\UNC\\OVRA-Zirer.exe");
    CHECK(FileUrlFromPath(L"\\\\srv\\tools\\ui\\index.html") ==
          L"file://///srv/tools/ui/index.html");

    // These three would end the path part of the URL early.
    CHECK(FileUrlFromPath(L"C:\\50%\\#1?\\index.html") == L"file:///C:/50%25/%231%3F/index.html");
}
