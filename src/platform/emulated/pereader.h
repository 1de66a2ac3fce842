#pragma once

#include "platform/fileversion.h"
#include "winsteps_platform_export.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A strict reader of the version resource of a Windows program image (PE32 or PE32+), for the
// emulated machine's file-version calls. It reads files a user hands it, so it trusts no
// number in them: every offset and size is checked against the file's end and against
// overflow before anything is read, and nothing is read twice to decide.
//
// The path through an image:
//
//   DOS header        "MZ" ... e_lfanew (offset 0x3C): where the PE header starts
//   PE header         "PE\0\0", COFF header (20 bytes: machine, number of sections, ...,
//                     size of the optional header)
//   optional header   magic 0x10B (PE32) or 0x20B (PE32+); data directory 2 (the resources:
//                     RVA and size)
//   section table     40 bytes per section; an RVA lies in the file at PointerToRawData +
//                     (RVA - VirtualAddress) of the section whose raw data holds it
//   resources         three directory levels below the resource RVA: type (RT_VERSION, 16),
//                     name (1, VS_VERSION_INFO), language (neutral, else the first), then a
//                     data entry (RVA and size of the resource)
//   version block     VS_VERSIONINFO: wLength, wValueLength, wType, key "VS_VERSION_INFO",
//                     the fixed record (VS_FIXEDFILEINFO), then children (StringFileInfo,
//                     VarFileInfo) of the same node shape, each aligned to 4 bytes
//
// Limits: the levels of the resource tree are walked by a fixed three steps (a directory that
// points back at itself is refused where a data entry must be); the nodes of a version block
// are walked by the path asked for, never deeper; a version block has at most 65,535 bytes
// (its length is 16 bits). 16-bit (NE) images are not read.

namespace winsteps::platform::emulated::pe {

inline constexpr std::uint16_t RT_VERSION = 16;
inline constexpr std::uint16_t VS_VERSION_INFO = 1;

// Random access to the bytes of an image.
class WINSTEPS_PLATFORM_EXPORT Source {
public:
    virtual ~Source();
    virtual std::uint64_t size() const = 0;
    // False unless count bytes at offset lie wholly inside and were read.
    virtual bool read(std::uint64_t offset, void* buffer, std::size_t count) const = 0;
};

// An image in memory (not copied: the bytes must outlive the source).
class WINSTEPS_PLATFORM_EXPORT MemorySource final : public Source {
public:
    MemorySource(const void* data, std::size_t size) : m_data(static_cast<const std::uint8_t*>(data)), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, void* buffer, std::size_t count) const override;

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

// The version block of an image: ERROR_SUCCESS with *block the VS_VERSIONINFO bytes (as long
// as its wLength says); ERROR_RESOURCE_DATA_NOT_FOUND for a file that is no PE image, or an
// image without resources; ERROR_BAD_EXE_FORMAT for an image whose headers or resource tree
// point outside it (one cut short, say); ERROR_RESOURCE_TYPE_NOT_FOUND when it has no
// version resource; ERROR_INVALID_DATA when the version resource is shorter than its header
// says.
WINSTEPS_PLATFORM_EXPORT std::uint32_t readVersionBlock(const Source& image, std::vector<std::uint8_t>* block);

// VerQueryValue inside a version block of size bytes (see FileVersions::verQueryValue): on
// success *offset is where the value starts in the block and *length its length (characters
// for text, bytes otherwise). ERROR_RESOURCE_TYPE_NOT_FOUND when the block has no such value
// or is damaged on the way to it.
WINSTEPS_PLATFORM_EXPORT std::uint32_t queryValue(const std::uint8_t* block, std::size_t size,
                                                  const std::string& subBlock, std::size_t* offset,
                                                  std::uint32_t* length);

// UTF-8 as UTF-16 code units (invalid bytes become U+FFFD).
WINSTEPS_PLATFORM_EXPORT std::u16string toUtf16(const std::string& text);

} // namespace winsteps::platform::emulated::pe
