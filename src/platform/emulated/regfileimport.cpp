// Reading registry-editor text: a parser that checks the whole file, then the import.

#include "platform/emulated/regfile.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/regfile_p.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

namespace winsteps::platform {

using namespace regfile;
using emulated::setError;

namespace {

const QString Header4 = QStringLiteral("REGEDIT4");

struct Operation {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = CreateKey;
    int line = 0;
    HKEY root = HKEY_NULL;
    std::string path;
    std::string name;
    std::uint32_t type = 0;
    QByteArray data;
};

QString decodeText(const std::vector<std::uint8_t>& bytes)
{
    const QByteArray raw(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    if (raw.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringDecoder::Utf16LE);
        return decoder.decode(QByteArrayView(raw).sliced(2));
    }
    if (raw.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(QStringDecoder::Utf16BE);
        return decoder.decode(QByteArrayView(raw).sliced(2));
    }
    if (raw.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(raw.mid(3));
    return QString::fromUtf8(raw);
}

// A quoted string at text[*pos] (which is '"'); *pos moves behind the closing quote.
bool readQuoted(const QString& text, qsizetype* pos, QString* out)
{
    QString result;
    for (qsizetype i = *pos + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            result += text.at(++i);
            continue;
        }
        if (c == QLatin1Char('"')) {
            *pos = i + 1;
            *out = result;
            return true;
        }
        result += c;
    }
    return false;
}

bool readHexList(QString text, QByteArray* out)
{
    text.remove(QLatin1Char(' ')).remove(QLatin1Char('\t')).remove(QLatin1Char('\\'));
    QByteArray data;
    if (text.isEmpty()) {
        *out = data;
        return true;
    }
    if (text.endsWith(QLatin1Char(',')))
        text.chop(1);
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString& item : items) {
        bool ok = false;
        const uint byte = item.toUInt(&ok, 16);
        if (!ok || item.isEmpty() || item.size() > 2)
            return false;
        data.append(char(byte));
    }
    *out = data;
    return true;
}

QByteArray utf8FromUtf16(const QByteArray& bytes)
{
    QString text;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text += QChar(ushort(quint8(bytes.at(i)) | (quint8(bytes.at(i + 1)) << 8)));
    return text.toUtf8();
}

class Parser {
public:
    bool parse(const QString& text, QList<Operation>* operations, QString* error)
    {
        QStringList lines = text.split(QLatin1Char('\n'));
        for (QString& line : lines) {
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
        }
        int index = 0;
        while (index < lines.size() && lines.at(index).trimmed().isEmpty())
            ++index;
        if (index >= lines.size()
            || (lines.at(index).trimmed() != Header5 && lines.at(index).trimmed() != Header4)) {
            setError(error, QStringLiteral("line %1: not a registry file (it must begin with \"%2\")")
                         .arg(qMin(index + 1, int(lines.size())))
                         .arg(Header5));
            return false;
        }
        m_utf16 = lines.at(index).trimmed() == Header5;
        bool inKey = false;
        bool deletedKey = false;
        for (++index; index < lines.size(); ++index) {
            const int lineNumber = index + 1;
            const QString line = lines.at(index).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
                continue;
            if (line.startsWith(QLatin1Char('['))) {
                if (!line.endsWith(QLatin1Char(']'))) {
                    setError(error, QStringLiteral("line %1: a key section must end with \"]\"").arg(lineNumber));
                    return false;
                }
                QString path = line.mid(1, line.size() - 2);
                Operation op;
                op.line = lineNumber;
                op.kind = Operation::CreateKey;
                if (path.startsWith(QLatin1Char('-'))) {
                    op.kind = Operation::DeleteKey;
                    path.remove(0, 1);
                }
                if (!splitRegistryPath(path.toStdString(), &op.root, &op.path)) {
                    setError(error, QStringLiteral("line %1: \"%2\" does not begin with a hive such as HKEY_LOCAL_MACHINE")
                                 .arg(lineNumber)
                                 .arg(path));
                    return false;
                }
                if (op.kind == Operation::DeleteKey && op.path.empty()) {
                    setError(error, QStringLiteral("line %1: a hive cannot be removed").arg(lineNumber));
                    return false;
                }
                // The registry refuses a key path with an empty key name in it, or one deeper
                // than its levels; found here, the mistake stops the import before anything is
                // written.
                const QStringList keys = op.path.empty() ? QStringList() : fromUtf8(op.path).split(QLatin1Char('\\'));
                if (keys.contains(QString())) {
                    setError(error, QStringLiteral("line %1: \"%2\" has an empty key name").arg(lineNumber).arg(path));
                    return false;
                }
                if (keys.size() > maxDepth) {
                    setError(error, QStringLiteral("line %1: \"%2\" is more than %3 keys deep")
                                 .arg(QString::number(lineNumber), path, QString::number(maxDepth)));
                    return false;
                }
                operations->append(op);
                inKey = true;
                deletedKey = op.kind == Operation::DeleteKey;
                continue;
            }
            if (!inKey) {
                setError(error, QStringLiteral("line %1: a value outside of a key section").arg(lineNumber));
                return false;
            }
            Operation op;
            op.line = lineNumber;
            if (!parseValue(lines, &index, &op, error))
                return false;
            if (!deletedKey)
                operations->append(op);
        }
        return true;
    }

private:
    bool parseValue(const QStringList& lines, int* index, Operation* op, QString* error)
    {
        const int lineNumber = *index + 1;
        QString line = lines.at(*index).trimmed();
        qsizetype pos = 0;
        QString name;
        if (line.startsWith(QLatin1Char('@'))) {
            pos = 1;
        } else if (line.startsWith(QLatin1Char('"'))) {
            if (!readQuoted(line, &pos, &name)) {
                setError(error, QStringLiteral("line %1: the value name has no closing quote").arg(lineNumber));
                return false;
            }
        } else {
            setError(error, QStringLiteral("line %1: expected \"name\"=..., @=... or a [key] section").arg(lineNumber));
            return false;
        }
        while (pos < line.size() && line.at(pos).isSpace())
            ++pos;
        if (pos >= line.size() || line.at(pos) != QLatin1Char('=')) {
            setError(error, QStringLiteral("line %1: expected \"=\" after the value name").arg(lineNumber));
            return false;
        }
        QString data = line.mid(pos + 1).trimmed();
        op->name = name.toStdString();
        op->kind = Operation::SetValue;

        if (data == QLatin1String("-")) {
            op->kind = Operation::DeleteValue;
            return true;
        }
        if (data.startsWith(QLatin1Char('"'))) {
            qsizetype end = 0;
            QString text;
            if (!readQuoted(data, &end, &text) || !data.mid(end).trimmed().isEmpty()) {
                setError(error, QStringLiteral("line %1: a text value must be one quoted string").arg(lineNumber));
                return false;
            }
            op->type = REG_SZ;
            op->data = text.toUtf8();
            op->data.append('\0');
            return true;
        }
        if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
            const QString digits = data.mid(6).trimmed();
            bool ok = false;
            const uint value = digits.toUInt(&ok, 16);
            if (!ok || digits.isEmpty() || digits.size() > 8) {
                setError(error, QStringLiteral("line %1: dword: wants up to 8 hex digits").arg(lineNumber));
                return false;
            }
            op->type = REG_DWORD;
            for (int i = 0; i < 4; ++i)
                op->data.append(char((value >> (8 * i)) & 0xFF));
            return true;
        }
        if (!data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
            setError(error, QStringLiteral("line %1: unknown value data \"%2\"").arg(lineNumber).arg(data));
            return false;
        }
        // Continued lines end with a backslash.
        while (data.endsWith(QLatin1Char('\\')) && *index + 1 < lines.size()) {
            data.chop(1);
            data += lines.at(++*index).trimmed();
        }
        std::uint32_t type = REG_BINARY;
        qsizetype colon = data.indexOf(QLatin1Char(':'));
        if (colon < 0) {
            setError(error, QStringLiteral("line %1: expected \":\" after hex").arg(lineNumber));
            return false;
        }
        const QString kind = data.left(colon).trimmed();
        if (kind.compare(QLatin1String("hex"), Qt::CaseInsensitive) != 0) {
            bool ok = false;
            const QString number = kind.mid(3);
            if (number.startsWith(QLatin1Char('(')) && number.endsWith(QLatin1Char(')')))
                type = number.mid(1, number.size() - 2).toUInt(&ok, 16);
            if (!ok) {
                setError(error, QStringLiteral("line %1: expected hex: or hex(TYPE):").arg(lineNumber));
                return false;
            }
        }
        QByteArray bytes;
        if (!readHexList(data.mid(colon + 1), &bytes)) {
            setError(error, QStringLiteral("line %1: hex data must be bytes such as 01,ff").arg(lineNumber));
            return false;
        }
        // Text data travel as UTF-16 in the editor's files; in an 8-bit file they are bytes
        // of the file's own text, read as the quoted texts beside them are (what is no UTF-8
        // becomes U+FFFD), so that the registry holds UTF-8 text either way.
        const bool textType = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
        op->type = type;
        op->data = !textType ? bytes : m_utf16 ? utf8FromUtf16(bytes) : fromUtf8(bytes).toUtf8();
        return true;
    }

    bool m_utf16 = true;
};

// Removes path below root with everything below it; a missing key is no failure.
std::uint32_t deleteTree(Registry& platform, HKEY root, const std::string& path, int depth)
{
    HKEY key = HKEY_NULL;
    std::uint32_t code = platform.regOpenKeyEx(root, path, readView, &key);
    if (code == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (code != ERROR_SUCCESS)
        return code;
    std::vector<std::string> children;
    std::string name;
    for (std::uint32_t i = 0; platform.regEnumKeyEx(key, i, &name) == ERROR_SUCCESS; ++i)
        children.push_back(name);
    platform.regCloseKey(key);
    if (depth >= maxDepth)
        return ERROR_ACCESS_DENIED;
    for (const std::string& child : children) {
        code = deleteTree(platform, root, path + "\\" + child, depth + 1);
        if (code != ERROR_SUCCESS)
            return code;
    }
    code = platform.regDeleteKeyEx(root, path, KEY_WOW64_64KEY);
    return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
}

QString keyText(const Operation& op)
{
    QString text = QString::fromLatin1(hiveName(op.root));
    if (!op.path.empty())
        text += QLatin1Char('\\') + fromUtf8(op.path);
    return text;
}

} // namespace

bool importRegistry(Registry& platform, const std::vector<std::uint8_t>& bytes, std::string* error)
{
    QList<Operation> operations;
    QString message;
    Parser parser;
    if (!parser.parse(decodeText(bytes), &operations, &message)) {
        setError(error, message.toStdString());
        return false;
    }
    HKEY current = HKEY_NULL;
    auto closeCurrent = [&] {
        if (current != HKEY_NULL)
            platform.regCloseKey(current);
        current = HKEY_NULL;
    };
    for (const Operation& op : std::as_const(operations)) {
        std::uint32_t code = ERROR_SUCCESS;
        QString what;
        switch (op.kind) {
        case Operation::CreateKey:
            closeCurrent();
            code = platform.regCreateKeyEx(op.root, op.path, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                           &current, nullptr);
            what = QStringLiteral("cannot create [%1]").arg(keyText(op));
            if (code != ERROR_SUCCESS)
                current = HKEY_NULL;
            break;
        case Operation::DeleteKey:
            closeCurrent();
            code = deleteTree(platform, op.root, op.path, 0);
            what = QStringLiteral("cannot remove [%1]").arg(keyText(op));
            break;
        case Operation::SetValue:
            code = platform.regSetValueEx(current, op.name, op.type,
                                          reinterpret_cast<const std::uint8_t*>(op.data.constData()),
                                          std::uint32_t(op.data.size()));
            what = QStringLiteral("cannot set \"%1\"").arg(fromUtf8(op.name));
            break;
        case Operation::DeleteValue:
            code = platform.regDeleteValue(current, op.name);
            if (code == ERROR_FILE_NOT_FOUND)
                code = ERROR_SUCCESS;
            what = QStringLiteral("cannot remove \"%1\"").arg(fromUtf8(op.name));
            break;
        }
        if (code != ERROR_SUCCESS) {
            closeCurrent();
            setError(error, QStringLiteral("line %1: %2: %3").arg(op.line).arg(what, errorText(code)).toStdString());
            return false;
        }
    }
    closeCurrent();
    return true;
}

} // namespace winsteps::platform
