// Writing registry-editor text: the export of a key and everything below it.

#include "platform/emulated/regfile.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/regfile_p.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

namespace winsteps::platform {

using namespace regfile;
using emulated::setError;

namespace {

const QString Eol = QStringLiteral("\r\n");
// The editor keeps hex lines within 80 columns, continuing them with a backslash.
constexpr int lineWidth = 80;

QString quoted(const QString& text)
{
    QString result = text;
    result.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    result.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + result + QLatin1Char('"');
}

// Text data that the editor shows as "text": one closing NUL and nothing odd before it.
bool plainString(const QByteArray& data, QString* text)
{
    if (data.isEmpty() || !data.endsWith('\0') || data.indexOf('\0') != data.size() - 1)
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString decoded = decoder.decode(QByteArrayView(data).chopped(1));
    if (decoder.hasError() || decoded.contains(QLatin1Char('\r')) || decoded.contains(QLatin1Char('\n')))
        return false;
    *text = decoded;
    return true;
}

QByteArray utf16Bytes(const QByteArray& utf8)
{
    const QString text = fromUtf8(utf8);
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

QString hexLines(const QString& prefix, const QByteArray& data)
{
    QString out;
    QString line = prefix;
    for (qsizetype i = 0; i < data.size(); ++i) {
        QString piece = QStringLiteral("%1").arg(uint(quint8(data.at(i))), 2, 16, QLatin1Char('0'));
        if (i + 1 < data.size())
            piece += QLatin1Char(',');
        if (line.size() + piece.size() > lineWidth - 1 && line != QLatin1String("  ")) {
            out += line + QLatin1Char('\\') + Eol;
            line = QStringLiteral("  ");
        }
        line += piece;
    }
    return out + line + Eol;
}

QString valueLine(const std::string& name, std::uint32_t type, const std::vector<std::uint8_t>& bytes)
{
    const QString label = name.empty() ? QStringLiteral("@") : quoted(fromUtf8(name));
    const QByteArray data(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QString text;
    if (type == REG_SZ && plainString(data, &text))
        return label + QLatin1Char('=') + quoted(text) + Eol;
    if (type == REG_DWORD && data.size() == 4) {
        const quint32 value = quint32(quint8(data[0])) | quint32(quint8(data[1])) << 8 | quint32(quint8(data[2])) << 16
            | quint32(quint8(data[3])) << 24;
        return label + QStringLiteral("=dword:%1").arg(value, 8, 16, QLatin1Char('0')) + Eol;
    }
    if (type == REG_BINARY)
        return hexLines(label + QStringLiteral("=hex:"), data);
    // Text types travel as the editor's UTF-16 bytes.
    const bool textType = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    return hexLines(label + QStringLiteral("=hex(%1):").arg(type, 0, 16), textType ? utf16Bytes(data) : data);
}

struct Exporter {
    Registry& platform;
    QString out;
    std::vector<std::string>* skipped;

    void key(HKEY handle, const QString& path, int depth)
    {
        out += QLatin1Char('[') + path + QLatin1Char(']') + Eol;
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        for (std::uint32_t i = 0; platform.regEnumValue(handle, i, &name, &type, &data) == ERROR_SUCCESS; ++i)
            out += valueLine(name, type, data);
        out += Eol;

        std::vector<std::string> children;
        for (std::uint32_t i = 0; platform.regEnumKeyEx(handle, i, &name) == ERROR_SUCCESS; ++i)
            children.push_back(name);
        for (const std::string& child : children) {
            const QString childPath = path + QLatin1Char('\\') + fromUtf8(child);
            HKEY sub = HKEY_NULL;
            if (depth >= maxDepth || platform.regOpenKeyEx(handle, child, readView, &sub) != ERROR_SUCCESS) {
                if (skipped)
                    skipped->push_back(childPath.toStdString());
                continue;
            }
            key(sub, childPath, depth + 1);
            platform.regCloseKey(sub);
        }
    }
};

// The stored spelling of a key path below root, found by enumerating each parent; the
// rest of the path as given where a key cannot be opened.
QString storedPath(Registry& platform, HKEY root, const QStringList& parts)
{
    QStringList spelled;
    HKEY current = root;
    for (int i = 0; i < parts.size(); ++i) {
        QString found = parts.at(i);
        std::string name;
        for (std::uint32_t n = 0; platform.regEnumKeyEx(current, n, &name) == ERROR_SUCCESS; ++n) {
            if (fromUtf8(name).compare(parts.at(i), Qt::CaseInsensitive) == 0) {
                found = fromUtf8(name);
                break;
            }
        }
        spelled << found;
        HKEY next = HKEY_NULL;
        const bool opened = platform.regOpenKeyEx(current, found.toStdString(), readView, &next) == ERROR_SUCCESS;
        if (current != root)
            platform.regCloseKey(current);
        current = root;
        if (!opened) {
            spelled << parts.mid(i + 1);
            break;
        }
        current = next;
    }
    if (current != root)
        platform.regCloseKey(current);
    return spelled.join(QLatin1Char('\\'));
}

} // namespace

bool exportRegistry(Registry& platform, const std::string& keyPath, std::string* text,
                    std::vector<std::string>* skipped, std::string* error)
{
    Exporter exporter{platform, Header5 + Eol + Eol, skipped};
    if (keyPath.empty()) {
        for (const HiveEntry& hive : hiveTable) {
            HKEY key = HKEY_NULL;
            if (platform.regOpenKeyEx(hive.key, std::string(), readView, &key) != ERROR_SUCCESS)
                continue; // a hive this system does not have
            exporter.key(key, QLatin1String(hive.name), 0);
            platform.regCloseKey(key);
        }
    } else {
        HKEY root = HKEY_NULL;
        std::string subKey;
        if (!splitRegistryPath(keyPath, &root, &subKey)) {
            setError(error, "\"" + keyPath + "\" does not begin with a hive such as HKEY_LOCAL_MACHINE");
            return false;
        }
        HKEY key = HKEY_NULL;
        const std::uint32_t code = platform.regOpenKeyEx(root, subKey, readView, &key);
        if (code != ERROR_SUCCESS) {
            setError(error, "\"" + keyPath + "\": " + errorText(code).toStdString());
            return false;
        }
        QString path = QLatin1String(hiveName(root));
        int depth = 0;
        if (!subKey.empty()) {
            const QStringList parts = fromUtf8(subKey).split(QLatin1Char('\\'));
            path += QLatin1Char('\\') + storedPath(platform, root, parts);
            depth = int(parts.size());
        }
        // Depth counts from the hive, so that a key shows in the export of a sub-tree
        // exactly when it shows in the export of the whole.
        exporter.key(key, path, depth);
        platform.regCloseKey(key);
    }
    *text = exporter.out.toStdString();
    return true;
}

} // namespace winsteps::platform
