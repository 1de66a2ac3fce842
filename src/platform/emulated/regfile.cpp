// The registry-editor text: hive names and the helpers that its writer and reader share.

#include "platform/emulated/regfile.h"
#include "platform/emulated/regfile_p.h"

#include <QStringDecoder>

namespace winsteps::platform {

namespace regfile {

QString fromUtf8(QByteArrayView utf8)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(utf8);
}

QString fromUtf8(const std::string& utf8)
{
    return fromUtf8(QByteArrayView(utf8.data(), qsizetype(utf8.size())));
}

QString errorText(std::uint32_t code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return QStringLiteral("not found");
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("access denied");
    case ERROR_INVALID_HANDLE:
        return QStringLiteral("no such hive on this system");
    case ERROR_BAD_PATHNAME:
        return QStringLiteral("bad key path");
    case ERROR_REGISTRY_IO_FAILED:
        return QStringLiteral("the registry cannot be written");
    default:
        return QStringLiteral("error %1").arg(code);
    }
}

} // namespace regfile

using namespace regfile;

const char* hiveName(HKEY root)
{
    for (const HiveEntry& hive : hiveTable) {
        if (hive.key == root)
            return hive.name;
    }
    return nullptr;
}

HKEY hiveByName(const std::string& name)
{
    const QString text = fromUtf8(name);
    for (const HiveEntry& hive : hiveTable) {
        if (text.compare(QLatin1String(hive.name), Qt::CaseInsensitive) == 0
            || text.compare(QLatin1String(hive.shortName), Qt::CaseInsensitive) == 0)
            return hive.key;
    }
    return HKEY_NULL;
}

bool splitRegistryPath(const std::string& path, HKEY* root, std::string* subKey)
{
    const std::string::size_type slash = path.find('\\');
    *root = hiveByName(path.substr(0, slash));
    if (*root == HKEY_NULL)
        return false;
    std::string rest = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    while (!rest.empty() && rest.back() == '\\')
        rest.pop_back();
    *subKey = rest;
    return true;
}

} // namespace winsteps::platform
