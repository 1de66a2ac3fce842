#include "states/statevalues.h"

#include "objects/valueconversion.h"

#include <QString>

namespace winsteps::states {

bool flagValue(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return false;
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        const QString text = value.toString().trimmed().toLower();
        return !(text.isEmpty() || text == QLatin1String("0") || text == QLatin1String("false")
                 || text == QLatin1String("no") || text == QLatin1String("off"));
    }
    return value.toBool();
}

std::uint32_t dwordValue(const QVariant& value)
{
    bool ok = false;
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        const QString text = value.toString().trimmed();
        const qulonglong unsignedValue = text.toULongLong(&ok, 10);
        if (ok)
            return std::uint32_t(unsignedValue & 0xFFFFFFFFu);
        const qlonglong signedValue = text.toLongLong(&ok, 10);
        return ok ? std::uint32_t(quint64(signedValue) & 0xFFFFFFFFu) : 0;
    }
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
        const double d = value.toDouble();
        if (!(d > -9.2e18 && d < 1.8e19))
            return 0;
        return std::uint32_t((d < 0 ? quint64(qint64(d)) : quint64(d)) & 0xFFFFFFFFu);
    }
    const qulonglong unsignedValue = value.toULongLong(&ok);
    if (ok)
        return std::uint32_t(unsignedValue & 0xFFFFFFFFu);
    const qlonglong signedValue = value.toLongLong(&ok);
    return ok ? std::uint32_t(quint64(signedValue) & 0xFFFFFFFFu) : 0;
}

QStringList stringListValue(const QVariant& value)
{
    return winsteps::valueconversion::toStringList(value);
}

} // namespace winsteps::states
