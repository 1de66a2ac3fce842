// Small program images with a version resource (see pewriter.h).

#include "platform/emulated/pewriter.h"
#include "platform/emulated/pereader.h"

#include <cstring>

namespace winsteps::platform::emulated::pe {

namespace {

constexpr std::uint32_t FILE_ALIGNMENT = 0x200;
constexpr std::uint32_t SECTION_ALIGNMENT = 0x1000;
constexpr std::uint32_t RESOURCE_RVA = SECTION_ALIGNMENT; // the one section follows the headers
constexpr std::uint16_t LANGUAGE = 0x0409;                  // English (United States)
constexpr std::uint16_t CODE_PAGE = 1200;                   // UTF-16

class Bytes {
public:
    std::vector<std::uint8_t> data;

    std::size_t size() const { return data.size(); }
    void u8(std::uint8_t value) { data.push_back(value); }
    void u16(std::uint16_t value)
    {
        u8(std::uint8_t(value));
        u8(std::uint8_t(value >> 8));
    }
    void u32(std::uint32_t value)
    {
        u16(std::uint16_t(value));
        u16(std::uint16_t(value >> 16));
    }
    void text(const std::u16string& text) // with its NUL
    {
        for (const char16_t c : text)
            u16(std::uint16_t(c));
        u16(0);
    }
    void align(std::size_t to)
    {
        while (data.size() % to)
            u8(0);
    }
    void zeros(std::size_t count) { data.insert(data.end(), count, 0); }
    void append(const std::vector<std::uint8_t>& bytes) { data.insert(data.end(), bytes.begin(), bytes.end()); }
    void put16(std::size_t at, std::uint16_t value)
    {
        data[at] = std::uint8_t(value);
        data[at + 1] = std::uint8_t(value >> 8);
    }
    void put32(std::size_t at, std::uint32_t value)
    {
        put16(at, std::uint16_t(value));
        put16(at + 2, std::uint16_t(value >> 16));
    }
};

// A node of the version block: header, key, value, children; its wLength set at the end.
// type 1: a text value, whose length counts characters.
std::vector<std::uint8_t> node(const std::u16string& key, std::uint16_t type, const std::vector<std::uint8_t>& value,
                               std::uint16_t valueLength, const std::vector<std::vector<std::uint8_t>>& children)
{
    Bytes b;
    b.u16(0);
    b.u16(valueLength);
    b.u16(type);
    b.text(key);
    b.align(4);
    b.append(value);
    for (const std::vector<std::uint8_t>& child : children) {
        b.align(4);
        b.append(child);
    }
    b.put16(0, std::uint16_t(b.size()));
    return b.data;
}

std::vector<std::uint8_t> textNode(const std::string& name, const std::string& value)
{
    const std::u16string text = toUtf16(value);
    Bytes b;
    b.text(text);
    return node(toUtf16(name), 1, b.data, std::uint16_t(text.size() + 1), {});
}

std::uint32_t alignUp(std::uint32_t value, std::uint32_t to)
{
    return (value + to - 1) / to * to;
}

// The resource section: the three directory levels, the data entry, then the version block.
std::vector<std::uint8_t> resourceSection(const std::vector<std::uint8_t>& block)
{
    Bytes b;
    const auto directory = [&b](std::uint32_t id, std::uint32_t target) {
        b.u32(0); // characteristics
        b.u32(0); // time stamp
        b.u32(0); // version
        b.u16(0); // named entries
        b.u16(1); // id entries
        b.u32(id);
        b.u32(target);
    };
    const std::uint32_t HIGH_BIT = 0x80000000u;
    directory(RT_VERSION, HIGH_BIT | 24);     // at 0, 24 bytes
    directory(VS_VERSION_INFO, HIGH_BIT | 48); // at 24
    directory(LANGUAGE, 72);                   // at 48: the data entry follows
    const std::uint32_t blockAt = 88;
    b.u32(RESOURCE_RVA + blockAt);
    b.u32(std::uint32_t(block.size()));
    b.u32(0); // code page
    b.u32(0);
    b.append(block);
    return b.data;
}

// The PE32 optional header of an image whose only section holds the resources.
void optionalHeader(Bytes& b, std::uint32_t resourceSize)
{
    b.u16(0x10B);
    b.u8(6); // linker version
    b.u8(0);
    b.u32(0);                                     // size of code
    b.u32(alignUp(resourceSize, FILE_ALIGNMENT)); // size of initialised data
    b.u32(0);                                     // size of uninitialised data
    b.u32(0);                                     // entry point: none
    b.u32(RESOURCE_RVA);                          // base of code
    b.u32(RESOURCE_RVA);                          // base of data
    b.u32(0x01000000);                            // image base
    b.u32(SECTION_ALIGNMENT);
    b.u32(FILE_ALIGNMENT);
    for (const std::uint16_t v : {4, 0, 0, 0, 4, 0}) // OS, image and subsystem versions
        b.u16(v);
    b.u32(0);                                                       // Win32 version
    b.u32(RESOURCE_RVA + alignUp(resourceSize, SECTION_ALIGNMENT)); // size of image
    b.u32(FILE_ALIGNMENT);                                          // size of headers
    b.u32(0);                                                       // checksum
    b.u16(2);                                                       // Windows GUI
    b.u16(0);                                                       // DLL characteristics
    for (const std::uint32_t v : {0x100000u, 0x1000u, 0x100000u, 0x1000u}) // stack and heap
        b.u32(v);
    b.u32(0);  // loader flags
    b.u32(16); // data directories, of which the resources' (2) alone is set
    for (std::uint32_t i = 0; i < 16; ++i) {
        b.u32(i == 2 ? RESOURCE_RVA : 0);
        b.u32(i == 2 ? resourceSize : 0);
    }
}

// The section ".rsrc": initialised, readable data right after the headers.
void sectionHeader(Bytes& b, std::uint32_t resourceSize)
{
    for (const char c : {'.', 'r', 's', 'r', 'c', '\0', '\0', '\0'})
        b.u8(std::uint8_t(c));
    b.u32(resourceSize);
    b.u32(RESOURCE_RVA);
    b.u32(alignUp(resourceSize, FILE_ALIGNMENT));
    b.u32(FILE_ALIGNMENT);
    b.zeros(12); // relocations, line numbers and their counts
    b.u32(0x40000040u);
}

} // namespace

FixedFileInfo fixedFileInfo(const VersionInfo& version)
{
    FixedFileInfo info;
    info.signature = VS_FFI_SIGNATURE;
    info.strucVersion = VS_FFI_STRUCVERSION;
    info.fileVersionMS = std::uint32_t(version.fileVersion[0]) << 16 | version.fileVersion[1];
    info.fileVersionLS = std::uint32_t(version.fileVersion[2]) << 16 | version.fileVersion[3];
    info.productVersionMS = std::uint32_t(version.productVersion[0]) << 16 | version.productVersion[1];
    info.productVersionLS = std::uint32_t(version.productVersion[2]) << 16 | version.productVersion[3];
    info.fileFlagsMask = VS_FFI_FILEFLAGSMASK;
    info.fileOS = version.fileOS;
    info.fileType = version.fileType;
    return info;
}

std::vector<std::uint8_t> versionBlock(const VersionInfo& version)
{
    const FixedFileInfo info = fixedFileInfo(version);
    Bytes fixed;
    for (const std::uint32_t field : {info.signature, info.strucVersion, info.fileVersionMS, info.fileVersionLS,
                                      info.productVersionMS, info.productVersionLS, info.fileFlagsMask, info.fileFlags,
                                      info.fileOS, info.fileType, info.fileSubtype, info.fileDateMS, info.fileDateLS})
        fixed.u32(field);

    std::vector<std::vector<std::uint8_t>> texts;
    for (const auto& [name, value] : version.strings)
        texts.push_back(textNode(name, value));
    const std::vector<std::uint8_t> table = node(u"040904B0", 1, {}, 0, texts);
    Bytes translation;
    translation.u16(LANGUAGE);
    translation.u16(CODE_PAGE);
    const std::vector<std::uint8_t> var = node(u"Translation", 0, translation.data, 4, {});
    return node(u"VS_VERSION_INFO", 0, fixed.data, std::uint16_t(fixed.size()),
                {node(u"StringFileInfo", 1, {}, 0, {table}), node(u"VarFileInfo", 1, {}, 0, {var})});
}

std::vector<std::uint8_t> programImage(const VersionInfo& version)
{
    const std::vector<std::uint8_t> resources = resourceSection(versionBlock(version));
    Bytes b;
    // DOS header: the signature and where the PE header starts.
    b.u16(0x5A4D);
    b.zeros(0x3C - 2);
    b.u32(0x40);
    // PE signature and COFF header: i386, one section, a 32-bit executable image.
    b.u32(0x00004550);
    b.u16(0x014C);
    b.u16(1);
    b.zeros(12); // time stamp, symbol table and its count
    b.u16(224);
    b.u16(0x0102);
    optionalHeader(b, std::uint32_t(resources.size()));
    sectionHeader(b, std::uint32_t(resources.size()));
    b.align(FILE_ALIGNMENT);
    b.append(resources);
    b.align(FILE_ALIGNMENT);
    return b.data;
}

} // namespace winsteps::platform::emulated::pe
