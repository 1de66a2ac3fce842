// The version resource of a PE image, read with every offset checked (see pereader.h).

#include "platform/emulated/pereader.h"

#include <algorithm>
#include <cstring>

namespace winsteps::platform::emulated::pe {

Source::~Source() = default;

bool MemorySource::read(std::uint64_t offset, void* buffer, std::size_t count) const
{
    if (offset > m_size || count > m_size - offset)
        return false;
    if (count)
        std::memcpy(buffer, m_data + offset, count);
    return true;
}

namespace {

constexpr std::uint16_t PE32_MAGIC = 0x10B;
constexpr std::uint16_t PE32_PLUS_MAGIC = 0x20B;
constexpr std::uint32_t RESOURCE_DIRECTORY = 2; // index in the data directories
constexpr std::uint32_t HIGH_BIT = 0x80000000u;
constexpr std::size_t SECTION_HEADER_SIZE = 40;
constexpr std::size_t DIRECTORY_SIZE = 16;
constexpr std::size_t ENTRY_SIZE = 8;
constexpr std::size_t NODE_HEADER_SIZE = 6; // wLength, wValueLength, wType
constexpr std::size_t FIXED_INFO_SIZE = sizeof(FixedFileInfo);

std::uint16_t u16(const std::uint8_t* p)
{
    return std::uint16_t(p[0] | (p[1] << 8));
}

std::uint32_t u32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

constexpr std::uint64_t align4(std::uint64_t offset)
{
    return (offset + 3) & ~std::uint64_t(3);
}

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t rawSize;
    std::uint32_t rawPointer;
};

// The image's headers as far as the resources need them.
class Image {
public:
    explicit Image(const Source& source) : m_source(source) {}

    // ERROR_SUCCESS, ERROR_BAD_EXE_FORMAT or ERROR_RESOURCE_DATA_NOT_FOUND.
    std::uint32_t readHeaders();
    // count bytes at an RVA: false unless they lie wholly in one section's raw data in the file.
    bool readRva(std::uint64_t rva, void* buffer, std::size_t count) const;
    // count bytes at an offset inside the resource directory's own range.
    bool readResource(std::uint64_t offset, void* buffer, std::size_t count) const
    {
        return offset <= m_resourceSize && count <= m_resourceSize - offset && readRva(m_resourceRva + offset, buffer, count);
    }

private:
    // Where the optional header starts, its size, and the number of sections.
    std::uint32_t readFileHeader(std::uint64_t* optional, std::uint16_t* optionalSize, std::uint16_t* sectionCount);
    bool readSections(std::uint64_t table, std::uint16_t count);
    // The resource directory's RVA and size from the optional header's data directories.
    std::uint32_t readResourceEntry(std::uint64_t optional, std::uint16_t optionalSize);

    const Source& m_source;
    std::vector<Section> m_sections;
    std::uint32_t m_resourceRva = 0;
    std::uint32_t m_resourceSize = 0;
};

std::uint32_t Image::readHeaders()
{
    std::uint64_t optional = 0;
    std::uint16_t optionalSize = 0, sectionCount = 0;
    if (const std::uint32_t code = readFileHeader(&optional, &optionalSize, &sectionCount))
        return code;
    if (!readSections(optional + optionalSize, sectionCount))
        return ERROR_BAD_EXE_FORMAT;
    return readResourceEntry(optional, optionalSize);
}

std::uint32_t Image::readFileHeader(std::uint64_t* optional, std::uint16_t* optionalSize, std::uint16_t* sectionCount)
{
    // A file that is no PE image at all (text, a DOS or 16-bit program) has no resource
    // section that Windows would find; one whose PE headers lead astray is damaged.
    std::uint8_t dos[64];
    if (!m_source.read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    const std::uint64_t pe = u32(dos + 0x3C);
    std::uint8_t header[24]; // signature and COFF header
    if (!m_source.read(pe, header, 4) || std::memcmp(header, "PE\0\0", 4) != 0)
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    if (!m_source.read(pe, header, sizeof header))
        return ERROR_BAD_EXE_FORMAT;
    *sectionCount = u16(header + 6);
    *optionalSize = u16(header + 20);
    *optional = pe + sizeof header;
    return ERROR_SUCCESS;
}

std::uint32_t Image::readResourceEntry(std::uint64_t optional, std::uint16_t optionalSize)
{
    std::uint8_t magic[2];
    if (!m_source.read(optional, magic, sizeof magic))
        return ERROR_BAD_EXE_FORMAT;
    // Where NumberOfRvaAndSizes, then the data directories, lie in each kind of optional header.
    const std::uint64_t countAt = u16(magic) == PE32_MAGIC ? 92 : u16(magic) == PE32_PLUS_MAGIC ? 108 : 0;
    std::uint8_t count[4];
    if (!countAt || countAt + 4 > optionalSize || !m_source.read(optional + countAt, count, sizeof count))
        return ERROR_BAD_EXE_FORMAT;
    const std::uint64_t entryAt = countAt + 4 + RESOURCE_DIRECTORY * 8;
    if (u32(count) <= RESOURCE_DIRECTORY || entryAt + 8 > optionalSize)
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    std::uint8_t entry[8];
    if (!m_source.read(optional + entryAt, entry, sizeof entry))
        return ERROR_BAD_EXE_FORMAT;
    m_resourceRva = u32(entry);
    m_resourceSize = u32(entry + 4);
    return m_resourceRva == 0 || m_resourceSize == 0 ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_SUCCESS;
}

bool Image::readSections(std::uint64_t table, std::uint16_t count)
{
    m_sections.clear();
    std::uint8_t header[SECTION_HEADER_SIZE];
    for (std::uint16_t i = 0; i < count; ++i) {
        if (!m_source.read(table + std::uint64_t(i) * SECTION_HEADER_SIZE, header, sizeof header))
            return false;
        m_sections.push_back({u32(header + 12), u32(header + 16), u32(header + 20)});
    }
    return true;
}

bool Image::readRva(std::uint64_t rva, void* buffer, std::size_t count) const
{
    for (const Section& section : m_sections) {
        if (rva < section.virtualAddress || rva - section.virtualAddress >= section.rawSize)
            continue;
        const std::uint64_t inSection = rva - section.virtualAddress;
        if (count > section.rawSize - inSection)
            return false;
        return m_source.read(std::uint64_t(section.rawPointer) + inSection, buffer, count);
    }
    return false;
}

// One entry of a resource directory: its id (names are not ids) and where it leads.
struct Entry {
    bool named;
    std::uint16_t id;
    bool directory;
    std::uint32_t offset;
};

// The entries of the directory at offset (relative to the resource directory's start);
// false when it does not lie in the resources.
bool directoryEntries(const Image& image, std::uint32_t offset, std::vector<Entry>* entries)
{
    std::uint8_t directory[DIRECTORY_SIZE];
    if (!image.readResource(offset, directory, sizeof directory))
        return false;
    const std::size_t named = u16(directory + 12);
    const std::size_t total = named + u16(directory + 14);
    entries->clear();
    std::uint8_t entry[ENTRY_SIZE];
    for (std::size_t i = 0; i < total; ++i) {
        if (!image.readResource(std::uint64_t(offset) + DIRECTORY_SIZE + i * ENTRY_SIZE, entry, sizeof entry))
            return false;
        const std::uint32_t name = u32(entry);
        const std::uint32_t target = u32(entry + 4);
        entries->push_back({i < named || (name & HIGH_BIT) != 0, std::uint16_t(name & 0xFFFF),
                            (target & HIGH_BIT) != 0, target & ~HIGH_BIT});
    }
    return true;
}

// The entry with that id, or (anyId) the first one.
const Entry* pick(const std::vector<Entry>& entries, std::uint16_t id, bool anyId)
{
    for (const Entry& entry : entries) {
        if (!entry.named && entry.id == id)
            return &entry;
    }
    return anyId && !entries.empty() ? &entries.front() : nullptr;
}

// Walks type, name and language down to the version resource's data entry.
std::uint32_t versionDataEntry(const Image& image, std::uint32_t* rva, std::uint32_t* size)
{
    std::vector<Entry> entries;
    if (!directoryEntries(image, 0, &entries))
        return ERROR_BAD_EXE_FORMAT;
    const Entry* type = pick(entries, RT_VERSION, false);
    if (!type)
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    if (!type->directory || !directoryEntries(image, type->offset, &entries))
        return ERROR_BAD_EXE_FORMAT;
    const Entry* name = pick(entries, VS_VERSION_INFO, false);
    if (!name)
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    if (!name->directory || !directoryEntries(image, name->offset, &entries))
        return ERROR_BAD_EXE_FORMAT;
    const Entry* language = pick(entries, 0, true); // language neutral, else the first
    if (!language)
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    std::uint8_t data[16];
    if (language->directory || !image.readResource(language->offset, data, sizeof data))
        return ERROR_BAD_EXE_FORMAT;
    *rva = u32(data);
    *size = u32(data + 4);
    return ERROR_SUCCESS;
}

} // namespace

std::uint32_t readVersionBlock(const Source& source, std::vector<std::uint8_t>* block)
{
    Image image(source);
    std::uint32_t code = image.readHeaders();
    std::uint32_t rva = 0, size = 0;
    if (code == ERROR_SUCCESS)
        code = versionDataEntry(image, &rva, &size);
    if (code != ERROR_SUCCESS)
        return code;
    std::uint8_t header[NODE_HEADER_SIZE];
    if (size < NODE_HEADER_SIZE || !image.readRva(rva, header, sizeof header))
        return size < NODE_HEADER_SIZE ? ERROR_INVALID_DATA : ERROR_BAD_EXE_FORMAT;
    const std::uint16_t length = u16(header);
    if (length < NODE_HEADER_SIZE || length > size)
        return ERROR_INVALID_DATA;
    block->resize(length);
    return image.readRva(rva, block->data(), length) ? ERROR_SUCCESS : ERROR_BAD_EXE_FORMAT;
}

namespace {

// One node of a version block: [start, end) in the block, its key, and its value.
struct Node {
    std::size_t start = 0;
    std::size_t end = 0;
    std::size_t keyStart = 0;
    std::size_t keyEnd = 0; // after the key's NUL
    std::size_t value = 0;
    std::uint32_t valueLength = 0; // characters for text, bytes otherwise
    std::size_t valueEnd = 0;
};

// The node at start, which must end at or before limit (cut: it is cut there, as the root of
// a block read into a buffer shorter than the block).
bool readNode(const std::uint8_t* block, std::size_t start, std::size_t limit, Node* node, bool cut = false)
{
    if (start > limit || limit - start < NODE_HEADER_SIZE)
        return false;
    std::size_t length = u16(block + start);
    if (cut)
        length = std::min(length, limit - start);
    if (length < NODE_HEADER_SIZE || length > limit - start)
        return false;
    node->start = start;
    node->end = start + length;
    node->valueLength = u16(block + start + 2);
    const bool text = u16(block + start + 4) == 1;
    node->keyStart = start + NODE_HEADER_SIZE;
    std::size_t at = node->keyStart;
    while (at + 2 <= node->end && u16(block + at) != 0)
        at += 2;
    if (at + 2 > node->end)
        return false; // the key has no end
    node->keyEnd = at + 2;
    node->value = std::min<std::size_t>(align4(node->keyEnd), node->end);
    const std::size_t valueBytes = std::size_t(node->valueLength) * (text ? 2 : 1);
    if (valueBytes > node->end - node->value)
        return false;
    node->valueEnd = node->value + valueBytes;
    return true;
}

bool keyIs(const std::uint8_t* block, const Node& node, const std::u16string& name)
{
    const std::size_t chars = (node.keyEnd - node.keyStart) / 2 - 1;
    if (chars != name.size())
        return false;
    for (std::size_t i = 0; i < chars; ++i) {
        char16_t a = u16(block + node.keyStart + 2 * i);
        char16_t b = name[i];
        if (a >= 'a' && a <= 'z')
            a = char16_t(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = char16_t(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    return true;
}

// The child of parent whose key is name.
bool findChild(const std::uint8_t* block, const Node& parent, const std::u16string& name, Node* child)
{
    std::size_t at = align4(parent.valueEnd);
    while (at < parent.end) {
        if (!readNode(block, at, parent.end, child))
            return false;
        if (keyIs(block, *child, name))
            return true;
        at = align4(child->end);
    }
    return false;
}

} // namespace

std::uint32_t queryValue(const std::uint8_t* block, std::size_t size, const std::string& subBlock,
                         std::size_t* offset, std::uint32_t* length)
{
    Node node;
    if (!block || !readNode(block, 0, size, &node, true))
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    bool root = true;
    std::size_t at = 0;
    while (at < subBlock.size()) {
        const std::size_t end = std::min(subBlock.find('\\', at), subBlock.size());
        if (end > at) {
            Node child;
            if (!findChild(block, node, toUtf16(subBlock.substr(at, end - at)), &child))
                return ERROR_RESOURCE_TYPE_NOT_FOUND;
            node = child;
            root = false;
        }
        at = end + 1;
    }
    // The fixed record must be whole, and signed; another node may have no value (length 0).
    if (root && (node.valueLength != FIXED_INFO_SIZE || u32(block + node.value) != VS_FFI_SIGNATURE))
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    *offset = node.value;
    *length = node.valueLength;
    return ERROR_SUCCESS;
}

std::u16string toUtf16(const std::string& text)
{
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        // The number of bytes that follow the lead byte, and the smallest code they may carry.
        const std::size_t more = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2
            : (lead & 0xF8) == 0xF0 ? 3 : 4;
        static const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        char32_t code = more == 0 ? lead : char32_t(lead & (0x3F >> more));
        bool valid = more < 4 && more < text.size() - i;
        for (std::size_t k = 1; valid && k <= more; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid || code < smallest[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            out += char16_t(0xD800 + ((code - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += char16_t(code);
        }
        i += more + 1;
    }
    return out;
}

} // namespace winsteps::platform::emulated::pe
