// Version resources as Windows reads them: a program image written by the case (the
// project's own writer makes it, so that Windows itself checks what the writer makes), read
// size first; its fixed record and its texts; a buffer shorter than the block; files that
// are no program, have no resources or no version resource, are cut short or missing; and
// the system's own installer engine.

#include "contract.h"

#include "platform/emulated/pewriter.h"
#include "platform/fileversion.h"
#include "platform/system.h"

#include <cstring>

using namespace winsteps::platform;
using namespace contract;

namespace {

namespace pe = winsteps::platform::emulated::pe;

pe::VersionInfo sample()
{
    pe::VersionInfo info;
    const std::uint16_t file[4] = {1, 10, 1029, 7}, product[4] = {2, 0, 3, 4};
    std::copy(file, file + 4, info.fileVersion);
    std::copy(product, product + 4, info.productVersion);
    info.strings = {{"FileVersion", "1.10.1029.7"}, {"ProductName", "Winsteps Contract"}};
    return info;
}

using Bytes = std::vector<std::uint8_t>;

// The image written to the scratch folder as name, after damage to its bytes.
std::string written(const std::string& name = "program.exe", void (*damage)(Bytes&) = [](Bytes&) {})
{
    Bytes image = pe::programImage(sample());
    damage(image);
    const std::string path = scratch() + "\\" + name;
    REQUIRE(writeFile(path, std::string(image.begin(), image.end())) == ERROR_SUCCESS);
    return path;
}

// The version block of a file, read as callers read it: its size first.
Bytes block(const std::string& path)
{
    std::uint32_t size = 0;
    REQUIRE(fileVersions().getFileVersionInfoSize(path, &size) == ERROR_SUCCESS);
    Bytes data(size);
    REQUIRE(fileVersions().getFileVersionInfo(path, size, data.data()) == ERROR_SUCCESS);
    return data;
}

struct Found {
    std::uint32_t code = 0;
    const std::uint8_t* value = nullptr;
    std::uint32_t length = 0;
};

Found query(const Bytes& data, const std::string& subBlock)
{
    Found found;
    const void* value = nullptr;
    found.code = fileVersions().verQueryValue(data.data(), std::uint32_t(data.size()), subBlock, &value, &found.length);
    found.value = static_cast<const std::uint8_t*>(value);
    return found;
}

FixedFileInfo fixedRecord(const Bytes& data)
{
    const Found found = query(data, "\\");
    REQUIRE(found.code == ERROR_SUCCESS);
    REQUIRE(found.length == sizeof(FixedFileInfo));
    FixedFileInfo info;
    std::memcpy(&info, found.value, sizeof info);
    return info;
}

// A text value as ASCII, its closing NUL left off.
std::string text(const Found& found)
{
    std::string result;
    for (std::uint32_t i = 0; i + 1 < found.length; ++i)
        result += char(found.value[2 * i]);
    return result;
}

} // namespace

TEST_CASE("a program's version is read size first: its fixed record, translation and texts")
{
    CONTRACT_MACHINE();
    const std::string path = written();
    const Bytes data = block(path);
    const std::size_t length = pe::versionBlock(sample()).size();
    CHECK(data.size() >= length);
    const std::size_t stated = data[0] | data[1] << 8;
    CHECK(stated == length);

    const FixedFileInfo expected = pe::fixedFileInfo(sample());
    const FixedFileInfo info = fixedRecord(data);
    CHECK(info.signature == VS_FFI_SIGNATURE);
    CHECK(std::memcmp(&info, &expected, sizeof info) == 0);
    CHECK(info.fileVersionMS == 0x0001000Au);
    CHECK(info.fileVersionLS == 0x04050007u);

    const Found translation = query(data, "\\VarFileInfo\\Translation");
    REQUIRE(translation.code == ERROR_SUCCESS);
    REQUIRE(translation.length == 4);
    CHECK(Bytes(translation.value, translation.value + 4) == Bytes{0x09, 0x04, 0xB0, 0x04});

    const Found version = query(data, "\\StringFileInfo\\040904b0\\FileVersion");
    REQUIRE(version.code == ERROR_SUCCESS);
    CHECK(version.length == 12); // characters, with the closing NUL
    CHECK(text(version) == "1.10.1029.7");
    CHECK(text(query(data, "\\stringfileinfo\\040904B0\\productname")) == "Winsteps Contract");

    for (const char* missing : {"\\StringFileInfo\\040904b0\\Comments", "\\StringFileInfo\\04070000", "\\Nothing"}) {
        CAPTURE(missing);
        CHECK(query(data, missing).code == ERROR_RESOURCE_TYPE_NOT_FOUND);
    }
    // A buffer shorter than the block gets the block cut, its fixed record still whole.
    Bytes cut(100, 0xEE);
    REQUIRE(fileVersions().getFileVersionInfo(path, std::uint32_t(cut.size()), cut.data()) == ERROR_SUCCESS);
    CHECK(fixedRecord(cut).fileVersionMS == 0x0001000Au);
}

TEST_CASE("files without a version: no program, no resources, no version resource, cut short, missing")
{
    CONTRACT_MACHINE();
    const std::string s = scratch();
    REQUIRE(writeFile(s + "\\text.txt", "This file holds no program.\r\n") == ERROR_SUCCESS);
    REQUIRE(writeFile(s + "\\empty.exe", "") == ERROR_SUCCESS);
    REQUIRE(files().createDirectory(s + "\\folder.exe") == ERROR_SUCCESS);
    struct Row {
        std::string path;
        std::uint32_t code;
        bool holds = true; // false: this system is known to answer otherwise (see behaves())
    };
    const Row rows[] = {
        {s + "\\text.txt", ERROR_RESOURCE_DATA_NOT_FOUND},
        {s + "\\empty.exe", ERROR_RESOURCE_DATA_NOT_FOUND},
        // The resource directory's entry emptied.
        {written("nores.exe", [](Bytes& b) { std::fill(b.begin() + 0xC8, b.begin() + 0xD0, 0); }),
         ERROR_RESOURCE_DATA_NOT_FOUND},
        // Resources of type 3 (icons) only.
        {written("noversion.exe", [](Bytes& b) { b[0x210] = 3; }), ERROR_RESOURCE_TYPE_NOT_FOUND,
         behaves(Behaviour::VersionlessImageIsTypeNotFound)},
        // Cut inside the version block.
        {written("cut.exe", [](Bytes& b) { b.resize(0x260); }), ERROR_BAD_EXE_FORMAT,
         behaves(Behaviour::CutImageIsRefused)},
        {s + "\\missing.exe", ERROR_FILE_NOT_FOUND},
        {s + "\\no\\such.exe", ERROR_PATH_NOT_FOUND},
        {s + "\\folder.exe", ERROR_ACCESS_DENIED},
    };
    for (const Row& row : rows) {
        CAPTURE(row.path);
        if (!row.holds)
            continue;
        std::uint32_t size = 1;
        CHECK(fileVersions().getFileVersionInfoSize(row.path, &size) == row.code);
        CHECK(size == 0);
        Bytes data(64);
        CHECK(fileVersions().getFileVersionInfo(row.path, std::uint32_t(data.size()), data.data()) == row.code);
    }
}

TEST_CASE("the system's installer engine carries its version")
{
    CONTRACT_MACHINE();
    std::string folder;
    REQUIRE(system().getSystemDirectory(&folder) == ERROR_SUCCESS);
    const FixedFileInfo info = fixedRecord(block(folder + "\\msiexec.exe"));
    CHECK(info.signature == VS_FFI_SIGNATURE);
    const std::uint32_t major = info.fileVersionMS >> 16;
    CHECK(major >= 1);
}
