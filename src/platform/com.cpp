// The text of class identifiers, shared by every backend.

#include "platform/com.h"

#include <cstdio>

namespace winsteps::platform {

Com::~Com() = default;

std::string guidText(const GUID& guid)
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(guid.data1),
                  unsigned(guid.data2), unsigned(guid.data3), guid.data4[0], guid.data4[1], guid.data4[2],
                  guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
    return text;
}

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The digits count digits of text from position at; false at anything but a digit.
bool hexNumber(const std::string& text, std::size_t at, int digits, std::uint32_t* value)
{
    std::uint32_t number = 0;
    for (int i = 0; i < digits; ++i) {
        const int digit = hexDigit(text[at + std::size_t(i)]);
        if (digit < 0)
            return false;
        number = (number << 4) | std::uint32_t(digit);
    }
    *value = number;
    return true;
}

} // namespace

bool parseGuidText(const std::string& text, GUID* guid)
{
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    // 0        9    14   19   24           37
    if (text.size() != 38 || text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-'
        || text[24] != '-' || text[37] != '}')
        return false;
    GUID parsed;
    std::uint32_t value = 0;
    if (!hexNumber(text, 1, 8, &parsed.data1))
        return false;
    if (!hexNumber(text, 10, 4, &value))
        return false;
    parsed.data2 = std::uint16_t(value);
    if (!hexNumber(text, 15, 4, &value))
        return false;
    parsed.data3 = std::uint16_t(value);
    // Two bytes before the last dash, six after it.
    static const std::size_t bytes[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!hexNumber(text, bytes[i], 2, &value))
            return false;
        parsed.data4[i] = std::uint8_t(value);
    }
    *guid = parsed;
    return true;
}

} // namespace winsteps::platform
