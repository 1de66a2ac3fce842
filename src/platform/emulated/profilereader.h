// Reading the values of a profile, with error texts that name the profile and the key.

#pragma once

#include "platform/emulated/errortext.h"

#include <QJsonObject>
#include <QString>

#include <cmath>

namespace winsteps::platform::emulated {

inline QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

inline QString profileError(const QString& source, const QString& what)
{
    return QStringLiteral("profile %1: %2").arg(quoted(source), what);
}

// Reads profile values with uniform error texts naming the key's path (error: see errortext.h).
class ProfileReader {
public:
    ProfileReader(const QString& source, QString* error) : m_source(source), m_error(error) {}

    bool fail(const QString& key, const QString& what)
    {
        setError(m_error, profileError(m_source, quoted(key) + QLatin1Char(' ') + what));
        return false;
    }

    bool object(const QJsonObject& parent, const QString& key, const QString& path,
                QJsonObject* out, bool required = false)
    {
        const QJsonValue v = parent.value(key);
        if (v.isUndefined() && !required)
            return true;
        if (!v.isObject())
            return fail(path, required && v.isUndefined() ? QStringLiteral("is missing (an object)")
                                                          : QStringLiteral("must be an object"));
        *out = v.toObject();
        return true;
    }

    bool integer(const QJsonObject& parent, const QString& key, const QString& path,
                 double minimum, double maximum, double* out, bool required = false)
    {
        const QJsonValue v = parent.value(key);
        if (v.isUndefined()) {
            if (required)
                return fail(path, QStringLiteral("is missing"));
            return true;
        }
        const double d = v.toDouble(std::nan(""));
        if (!v.isDouble() || std::floor(d) != d || d < minimum || d > maximum)
            return fail(path, QStringLiteral("must be an integer from %1 to %2")
                                  .arg(qint64(minimum)).arg(qint64(maximum)));
        *out = d;
        return true;
    }

    bool boolean(const QJsonObject& parent, const QString& key, bool* out)
    {
        const QJsonValue v = parent.value(key);
        if (v.isUndefined())
            return true;
        if (!v.isBool())
            return fail(key, QStringLiteral("must be true or false"));
        *out = v.toBool();
        return true;
    }

    bool string(const QJsonObject& parent, const QString& key, const QString& path, QString* out)
    {
        const QJsonValue v = parent.value(key);
        if (v.isUndefined())
            return true;
        if (!v.isString())
            return fail(path, QStringLiteral("must be a string"));
        *out = v.toString();
        return true;
    }

    // A single folder name: no separators, not "." or "..".
    bool folderName(const QJsonObject& parent, const QString& key, const QString& path,
                    QString* out, bool allowEmpty = false)
    {
        QString value = *out;
        if (!string(parent, key, path, &value))
            return false;
        if ((value.isEmpty() && !allowEmpty) || value == QLatin1String(".") || value == QLatin1String("..")
            || value.contains(QLatin1Char('/')) || value.contains(QLatin1Char('\\'))
            || value.contains(QLatin1Char(':')))
            return fail(path, QStringLiteral("must be a plain folder name"));
        *out = value;
        return true;
    }

private:
    QString m_source;
    QString* m_error;
};

} // namespace winsteps::platform::emulated
