#include <doctest/doctest.h>

// First: it brings the socket header, which must come before windows.h.
#include "update_fixtures.h"

#include "base/files.h"
#include "base/paths.h"
#include "base/stop_signal.h"
#include "ota/processes.h"
#include "ota/program_check.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <thread>

using namespace update_fixtures;

namespace {

std::wstring BesideTests(const std::wstring& name) {
    wchar_t self[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring dir(self);
    return JoinPath(dir.substr(0, dir.find_last_of(L'\\')), name);
}

// The built programs sit two folders up from the tests.
std::wstring Built(const std::wstring& name) {
    return BesideTests(L"..\\..\\" + name);
}

// End of the raw data of the section that ends last.
size_t LastSectionEnd(const std::string& image) {
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, image.data(), sizeof(dos));
    IMAGE_FILE_HEADER header;
    std::memcpy(&header, image.data() + dos.e_lfanew + 4, sizeof(header));
    size_t at = dos.e_lfanew + 4 + sizeof(header) + header.SizeOfOptionalHeader;
    size_t end = 0;
    for (int i = 0; i < header.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER s;
        std::memcpy(&s, image.data() + at + i * sizeof(s), sizeof(s));
        end = std::max<size_t>(end, s.PointerToRawData + s.SizeOfRawData);
    }
    return end;
}

} // namespace

TEST_CASE("only a whole Windows executable passes the image check") {
    std::string image = ReadFile(Built(L"OVRA-Zirer-next.exe"));
    REQUIRE(image.size() > 100000);
    CHECK(CheckImageBytes(image) == ImageCheck::Complete);
    // Data appended past the sections (an overlay) does not matter.
    CHECK(CheckImageBytes(image + "next build\n") == ImageCheck::Complete);

    size_t end = LastSectionEnd(image);
    REQUIRE(end <= image.size());
    for (size_t cut :
         {end - 1, image.size() / 2, size_t(4096), size_t(300), size_t(64), size_t(10)})
        CHECK_MESSAGE(CheckImageBytes(image.substr(0, cut)) == ImageCheck::Truncated, cut);

    CHECK(CheckImageBytes("<!DOCTYPE html><html></html>") == ImageCheck::NotProgram);
    CHECK(CheckImageBytes("") == ImageCheck::NotProgram);
    std::string notPe = image;
    notPe[notPe[0x3C] & 0xFF] = 'X'; // the "PE" signature
    CHECK(CheckImageBytes(notPe) == ImageCheck::NotProgram);

    std::wstring dir = MakeFolder(L"image");
    std::wstring half = JoinPath(dir, L"half.exe");
    REQUIRE(WriteTextFile(half, image.substr(0, image.size() / 2)));
    CHECK(CheckImageFile(half) == ImageCheck::Truncated);
    CHECK(CheckImageFile(Built(L"OVRA-Zirer-next.exe")) == ImageCheck::Complete);
    CHECK(CheckImageFile(JoinPath(dir, L"none.exe")) == ImageCheck::NotProgram);
}

TEST_CASE("the version a program reports is its first printed line") {
    CHECK(ReportedVersion(Built(L"OVRA-Zirer-next.exe"), 30000) == "1.0.5");
    CHECK(ReportedVersion(Built(L"OVRA-Zirer.exe"), 30000) == "1.0.4");
    CHECK(ReportedVersion(BesideTests(L"missing.exe"), 30000).empty());
    // A program that never answers is ended at the time limit.
    ULONGLONG start = GetTickCount64();
    CHECK(ReportedVersion(BesideTests(L"stuck_program.exe"), 2000).empty());
    CHECK(GetTickCount64() - start < 10000);
    // A program that is closing does not wait out the time limit (last: it cannot be undone).
    std::thread stop([] {
        Sleep(1000);
        RequestStop();
    });
    start = GetTickCount64();
    CHECK(ReportedVersion(BesideTests(L"stuck_program.exe"), 30000).empty());
    CHECK(GetTickCount64() - start < 5000);
    stop.join();
}
