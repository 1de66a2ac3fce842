// The one form of error reporting in the emulated machine: a function that can fail takes an
// optional out-parameter (QString* or std::string*), which may be null and is written only
// when the function fails.

#pragma once

#include <QString>

#include <string>

namespace winsteps::platform::emulated {

inline void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

inline void setError(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
}

} // namespace winsteps::platform::emulated
