#pragma once

#include "winsteps_export.h"

#include <QStringList>
#include <QVariant>

#include <cstdint>

// How the configuration states read their property values.

namespace winsteps::states {

// A property as a flag: a bool as it is; a number: not 0; a text: false when it is empty,
// "0", "false", "no" or "off" (in any case), true otherwise. A missing property is false.
WINSTEPS_EXPORT bool flagValue(const QVariant& value);

// A property as an unsigned 32-bit number: its integer value cut to the low 32 bits (so
// 2 to the power 32 gives 0 and -1 gives 4294967295); 0 when it is no number.
WINSTEPS_EXPORT std::uint32_t dwordValue(const QVariant& value);

// A property as a string list, by the expressions' conversion rules: a string list as it is, a
// list as the texts of its elements; anything else (a text too) gives the empty list.
WINSTEPS_EXPORT QStringList stringListValue(const QVariant& value);

} // namespace winsteps::states
