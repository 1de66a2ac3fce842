#pragma once

#include "platform/com.h" // platform::GUID
#include "winsteps_export.h"

#include <QString>

// A GUID both as text and as its 16-byte value in the platform's layout (32-bit, 16-bit,
// 16-bit, 8 bytes).
//
// Reading a text ("{4D36E972-E325-11CE-BFC1-08002BE10318}"): between "{" and "}" five groups
// separated by "-"; the first gives the 32-bit field, the second and third the 16-bit
// fields, the fourth two bytes, and the fifth, exactly 12 characters long, six bytes of two
// digits each. Hexadecimal digits count in either case; any other character contributes
// nothing. Without "{", "}" or one of the separators, or with a last group of another
// length, the value is the null GUID. The text is kept as given either way.
class WINSTEPS_EXPORT CGUID
{
public:
    CGUID() = default;
    explicit CGUID(const QString& text);
    CGUID(const CGUID&) = default;
    CGUID& operator=(const CGUID&) = default;
    virtual ~CGUID() = default;

    const winsteps::platform::GUID& value() const { return m_value; }
    const QString& text() const { return m_text; }
    bool isNull() const { return m_value == winsteps::platform::GUID(); }
    bool operator==(const CGUID& other) const { return m_value == other.m_value; }
    bool operator!=(const CGUID& other) const { return !(*this == other); }

    // The all-zero GUID: no class given.
    static const CGUID& null();
    // The network-adapter device class, {4D36E972-E325-11CE-BFC1-08002BE10318}.
    static const CGUID& networkAdapterClass();

private:
    QString m_text;
    winsteps::platform::GUID m_value;
};
