// Program images: the input is a file whose version the emulated machine is asked for. The
// PE reader looks for its version resource; a block it hands out must be as long as the
// block says, and the values callers look up in it (the fixed record, the translation, then
// the texts of the table the translation names, also in a buffer cut short) must lie inside
// it. The input is also taken as a version block itself, for the look-ups alone. The fuzzer's
// bytes are exactly as long as the input, so any read beyond it is caught.

#include "fuzzsupport.h"

#include "platform/emulated/pereader.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

namespace pe = winsteps::platform::emulated::pe;
using winsteps::platform::ERROR_SUCCESS;

// Looks subBlock up; a value found must start inside the block. Its length (true: bytes
// long).
bool lookUp(const std::uint8_t* block, std::size_t size, const std::string& subBlock, bool bytes,
            std::size_t* offset = nullptr)
{
    std::size_t at = 0;
    std::uint32_t length = 0;
    if (pe::queryValue(block, size, subBlock, &at, &length) != ERROR_SUCCESS)
        return false;
    const std::size_t span = bytes ? length : std::size_t(length) * 2;
    if (at > size || (bytes && span > size - at))
        qFatal("value of %s at %zu, %u long, outside a block of %zu bytes", subBlock.c_str(), at, length, size);
    fuzzsupport::keep(std::size_t(at + length));
    if (offset)
        *offset = at;
    return true;
}

// What a caller asks of a block: the fixed record, the first translation and its texts.
void askAsCallersDo(const std::uint8_t* block, std::size_t size)
{
    if (lookUp(block, size, "\\", true))
        fuzzsupport::keep(std::size_t(block[0]));
    std::string table = "040904B0";
    std::size_t at = 0;
    if (lookUp(block, size, "\\VarFileInfo\\Translation", true, &at) && size - at >= 4) {
        char name[9];
        std::snprintf(name, sizeof name, "%02X%02X%02X%02X", block[at + 1], block[at], block[at + 3], block[at + 2]);
        table = name;
    }
    for (const char* text : {"FileVersion", "ProductName", "ProductVersion"})
        lookUp(block, size, "\\StringFileInfo\\" + table + "\\" + text, false);
    lookUp(block, size, "\\StringFileInfo", false);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzzsupport::MaxInput)
        return -1;
    std::vector<std::uint8_t> block;
    if (pe::readVersionBlock(pe::MemorySource(data, size), &block) == ERROR_SUCCESS) {
        const std::size_t stated = block.size() >= 2 ? std::size_t(block[0] | block[1] << 8) : 0;
        if (block.size() < 6 || stated != block.size())
            qFatal("a version block of %zu bytes says it has %zu", block.size(), stated);
        askAsCallersDo(block.data(), block.size());
        // A buffer shorter than the block, as GetFileVersionInfo fills it.
        const std::vector<std::uint8_t> cut(block.begin(), block.begin() + std::ptrdiff_t(block.size() / 2));
        askAsCallersDo(cut.data(), cut.size());
    }
    askAsCallersDo(data, size);
    return 0;
}
