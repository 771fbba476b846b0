#include "ota/program_check.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

namespace {

// The first bytes of a file and its full size: headers are read from the head, extents
// are checked against the size.
struct Image {
    const std::string& head;
    uint64_t size;

    // Missing bytes past the end of the file mean a cut-off file; past the end of the
    // head (headers placed absurdly far in) mean nothing we take as a program.
    template <typename T> bool Read(uint64_t offset, T& out, ImageCheck& failure) const {
        if (offset <= head.size() && head.size() - offset >= sizeof(T)) {
            std::memcpy(&out, head.data() + offset, sizeof(T));
            return true;
        }
        failure = offset + sizeof(T) > size ? ImageCheck::Truncated : ImageCheck::NotProgram;
        return false;
    }

    bool Holds(uint64_t offset, uint64_t length) const {
        return offset <= size && length <= size - offset;
    }
};

const size_t HeadBytes = 65536;

// Size of the headers and the file range of the appended signature, by header kind.
template <typename Optional>
bool ReadOptional(const Image& image, uint64_t at, WORD declared, DWORD& sizeOfHeaders,
                  IMAGE_DATA_DIRECTORY& certificates, ImageCheck& failure) {
    Optional opt;
    if (declared < sizeof(opt)) {
        failure = ImageCheck::NotProgram;
        return false;
    }
    if (!image.Read(at, opt, failure))
        return false;
    sizeOfHeaders = opt.SizeOfHeaders;
    if (opt.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_SECURITY)
        certificates = opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    return true;
}

ImageCheck CheckImage(const Image& image) {
    if (image.size < 2 || image.head.size() < 2 || image.head[0] != 'M' || image.head[1] != 'Z')
        return ImageCheck::NotProgram;
    // From here on it claims to be an executable.
    ImageCheck failure = ImageCheck::NotProgram;
    IMAGE_DOS_HEADER dos;
    DWORD signature = 0;
    if (!image.Read(0, dos, failure))
        return failure;
    if (dos.e_lfanew < 0)
        return ImageCheck::NotProgram;
    if (!image.Read(dos.e_lfanew, signature, failure))
        return failure;
    if (signature != IMAGE_NT_SIGNATURE)
        return ImageCheck::NotProgram;
    uint64_t fileHeaderAt = uint64_t(dos.e_lfanew) + sizeof(signature);
    IMAGE_FILE_HEADER header;
    WORD magic = 0;
    uint64_t optionalAt = fileHeaderAt + sizeof(header);
    if (!image.Read(fileHeaderAt, header, failure) || !image.Read(optionalAt, magic, failure))
        return failure;

    DWORD sizeOfHeaders = 0;
    IMAGE_DATA_DIRECTORY certificates = {};
    bool read = false;
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        read = ReadOptional<IMAGE_OPTIONAL_HEADER64>(image, optionalAt, header.SizeOfOptionalHeader,
                                                     sizeOfHeaders, certificates, failure);
    else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        read = ReadOptional<IMAGE_OPTIONAL_HEADER32>(image, optionalAt, header.SizeOfOptionalHeader,
                                                     sizeOfHeaders, certificates, failure);
    if (!read)
        return failure;
    if (header.NumberOfSections == 0)
        return ImageCheck::NotProgram;
    if (!image.Holds(0, sizeOfHeaders))
        return ImageCheck::Truncated;
    uint64_t sectionsAt = optionalAt + header.SizeOfOptionalHeader;
    for (WORD i = 0; i < header.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section;
        if (!image.Read(sectionsAt + uint64_t(i) * sizeof(section), section, failure))
            return failure;
        if (!image.Holds(section.PointerToRawData, section.SizeOfRawData))
            return ImageCheck::Truncated;
    }
    // A signature is appended after the sections; its directory entry is a file offset.
    if (certificates.Size != 0 && !image.Holds(certificates.VirtualAddress, certificates.Size))
        return ImageCheck::Truncated;
    return ImageCheck::Complete;
}

} // namespace

ImageCheck CheckImageBytes(const std::string& bytes) {
    return CheckImage(Image{bytes, bytes.size()});
}

ImageCheck CheckImageFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ImageCheck::NotProgram;
    LARGE_INTEGER size = {};
    std::string head(HeadBytes, '\0');
    DWORD got = 0;
    bool ok = GetFileSizeEx(file, &size) &&
              ReadFile(file, &head[0], static_cast<DWORD>(head.size()), &got, nullptr);
    CloseHandle(file);
    if (!ok)
        return ImageCheck::NotProgram;
    head.resize(got);
    return CheckImage(Image{head, static_cast<uint64_t>(size.QuadPart)});
}
