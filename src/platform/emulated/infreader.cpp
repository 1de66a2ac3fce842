#include "platform/emulated/infreader.h"

#include "platform/com.h"
#include "platform/driverpackages.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

#include <string>

namespace winsteps::platform::emulated::inf {

namespace {

// One entry as written: its key (when it has one) and its fields, quotes taken off, %key%
// not yet replaced.
struct Entry {
    int line = 0;
    bool hasKey = false;
    QString key;
    QStringList fields;
};

struct Section {
    QString name;
    int line = 0;
    QList<Entry> entries;
};

bool fail(Error* error, std::uint32_t code, int line, const QString& reason)
{
    if (error)
        *error = Error{code, line, reason};
    return false;
}

// The file's text by its byte-order mark; text without one is UTF-8 when it is valid
// UTF-8, else ANSI.
bool decode(const QByteArray& bytes, QString* text, Error* error)
{
    if (bytes.size() > maxFileSize)
        return fail(error, ERROR_GENERAL_SYNTAX, 0, QStringLiteral("the file is larger than 1 MiB"));
    if (bytes.startsWith("\xFF\xFE")) {
        if (bytes.size() % 2)
            return fail(error, ERROR_GENERAL_SYNTAX, 0, QStringLiteral("UTF-16 text of an odd number of bytes"));
        std::u16string units(std::size_t(bytes.size() - 2) / 2, u'\0');
        for (std::size_t i = 0; i < units.size(); ++i)
            units[i] = char16_t(std::uint8_t(bytes[qsizetype(2 + 2 * i)]) | std::uint8_t(bytes[qsizetype(3 + 2 * i)]) << 8);
        *text = QString::fromStdU16String(units);
    } else if (bytes.startsWith("\xFE\xFF")) {
        return fail(error, ERROR_GENERAL_SYNTAX, 0, QStringLiteral("big-endian UTF-16 is not read"));
    } else {
        const bool mark = bytes.startsWith("\xEF\xBB\xBF");
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        *text = utf8.decode(mark ? bytes.mid(3) : bytes);
        if (utf8.hasError()) {
            if (mark)
                return fail(error, ERROR_GENERAL_SYNTAX, 0, QStringLiteral("text marked as UTF-8 is not UTF-8"));
            *text = QString::fromLatin1(bytes);
        }
    }
    if (text->contains(QChar(0)))
        return fail(error, ERROR_GENERAL_SYNTAX, 0, QStringLiteral("the text holds a NUL character"));
    return true;
}

// The line up to its comment, and whether its quotes are closed.
bool withoutComment(const QString& line, QString* content)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == QLatin1Char('"'))
            quoted = !quoted;
        else if (line.at(i) == QLatin1Char(';') && !quoted) {
            *content = line.left(i);
            return true;
        }
    }
    *content = line;
    return !quoted;
}

// Splits an entry into key and fields. Blanks around a field go; those inside quotes stay.
bool splitEntry(const QString& text, int line, Entry* entry, Error* error)
{
    entry->line = line;
    QString field;
    bool quoted = false;
    bool sawComma = false;
    qsizetype quotedEnd = -1; // the field's length at the end of its last quoted part
    const auto finish = [&] {
        entry->fields.append(quotedEnd < 0 ? field.trimmed() : field.left(quotedEnd) + field.mid(quotedEnd).trimmed());
        field.clear();
        quotedEnd = -1;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"')) {
            if (quoted && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                field.append(c);
                ++i;
            } else {
                if (!quoted && quotedEnd < 0)
                    field = field.trimmed();
                quoted = !quoted;
            }
            quotedEnd = field.size();
        } else if (quoted) {
            field.append(c);
        } else if (c == QLatin1Char('=') && !entry->hasKey && !sawComma) {
            entry->hasKey = true;
            entry->key = field.trimmed();
            field.clear();
            quotedEnd = -1;
        } else if (c == QLatin1Char(',')) {
            sawComma = true;
            finish();
            if (entry->fields.size() >= maxFields)
                return fail(error, ERROR_GENERAL_SYNTAX, line, QStringLiteral("more than 128 fields"));
        } else {
            field.append(c);
        }
    }
    finish();
    return true;
}

class Reader {
public:
    Reader(const Target& target, Error* error) : m_target(target), m_error(error) {}

    bool parse(const QString& text);
    bool readPackage(Package* package);

private:
    bool logicalLine(const QString& text, int line);
    bool addSection(const QString& text, int line);
    const Section* section(const QString& name) const;
    const Entry* find(const Section& section, const QString& key) const;
    bool value(const Entry& entry, qsizetype index, QString* out) const;
    bool readVersion(Package* package);
    bool readManufacturer(const Entry& entry, Package* package);
    QString chosenModels(const Entry& entry, const QString& base) const;
    bool readModel(const QString& manufacturer, const Entry& entry, Package* package);
    QString chosenInstall(const QString& base) const;
    bool readServices(const QString& installSection, Model* model);
    bool readService(const Entry& entry, Service* service);
    bool fail(std::uint32_t code, int line, const QString& reason) const
    {
        return inf::fail(m_error, code, line, reason);
    }

    Target m_target;
    Error* m_error;
    QList<Section> m_sections;
    QHash<QString, qsizetype> m_index; // lower-case name -> position in m_sections
    QHash<QString, QString> m_strings; // lower-case key -> value
    qsizetype m_current = -1;
};

bool Reader::parse(const QString& text)
{
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    if (lines.size() > maxLines)
        return fail(ERROR_GENERAL_SYNTAX, 0, QStringLiteral("more than 65536 lines"));
    QString pending;
    int start = 0;
    for (int n = 0; n < int(lines.size()); ++n) {
        QString content;
        if (!withoutComment(lines.at(n), &content))
            return fail(ERROR_GENERAL_SYNTAX, n + 1, QStringLiteral("a quoted string is not closed"));
        if (pending.isEmpty())
            start = n + 1;
        pending += content;
        while (!pending.isEmpty() && pending.back().isSpace())
            pending.chop(1);
        if (pending.size() > maxLineLength)
            return fail(ERROR_GENERAL_SYNTAX, start, QStringLiteral("a line longer than 4096 characters"));
        if (pending.endsWith(QLatin1Char('\\')) && n + 1 < int(lines.size())) {
            pending.chop(1);
            continue;
        }
        if (!logicalLine(pending, start))
            return false;
        pending.clear();
    }
    return true;
}

bool Reader::logicalLine(const QString& text, int line)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return true;
    if (trimmed.startsWith(QLatin1Char('[')))
        return addSection(trimmed, line);
    if (m_current < 0)
        return fail(ERROR_EXPECTED_SECTION_NAME, line, QStringLiteral("an entry before the first section"));
    Entry entry;
    if (!splitEntry(trimmed, line, &entry, m_error))
        return false;
    Section& current = m_sections[m_current];
    current.entries.append(entry);
    if (current.name.compare(QLatin1String("Strings"), Qt::CaseInsensitive) == 0 && entry.hasKey)
        m_strings.insert(entry.key.toLower(), entry.fields.join(QLatin1Char(',')));
    return true;
}

bool Reader::addSection(const QString& text, int line)
{
    const qsizetype close = text.indexOf(QLatin1Char(']'));
    if (close < 0 || close != text.size() - 1)
        return fail(ERROR_BAD_SECTION_NAME_LINE, line, QStringLiteral("a section name line must be [name]"));
    const QString name = text.mid(1, close - 1).trimmed();
    if (name.isEmpty())
        return fail(ERROR_BAD_SECTION_NAME_LINE, line, QStringLiteral("an empty section name"));
    if (name.size() > maxSectionNameLength)
        return fail(ERROR_SECTION_NAME_TOO_LONG, line, QStringLiteral("a section name longer than 255 characters"));
    const auto found = m_index.constFind(name.toLower());
    if (found != m_index.constEnd()) {
        m_current = *found;
        return true;
    }
    if (m_sections.size() >= maxSections)
        return fail(ERROR_GENERAL_SYNTAX, line, QStringLiteral("more than 4096 sections"));
    m_current = m_sections.size();
    m_index.insert(name.toLower(), m_current);
    m_sections.append(Section{name, line, {}});
    return true;
}

const Section* Reader::section(const QString& name) const
{
    const auto found = m_index.constFind(name.toLower());
    return found == m_index.constEnd() ? nullptr : &m_sections.at(*found);
}

const Entry* Reader::find(const Section& section, const QString& key) const
{
    for (const Entry& entry : section.entries) {
        if (entry.hasKey && entry.key.compare(key, Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

// Field index of entry with %key% replaced; an absent field is empty.
bool Reader::value(const Entry& entry, qsizetype index, QString* out) const
{
    out->clear();
    const QString raw = index < entry.fields.size() ? entry.fields.at(index) : QString();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const qsizetype close = raw.at(i) == QLatin1Char('%') ? raw.indexOf(QLatin1Char('%'), i + 1) : -1;
        if (close < 0) {
            out->append(raw.at(i));
        } else {
            const QString key = raw.mid(i + 1, close - i - 1);
            const auto found = key.isEmpty() ? m_strings.constEnd() : m_strings.constFind(key.toLower());
            out->append(key.isEmpty() ? QStringLiteral("%")
                                      : found != m_strings.constEnd() ? *found : raw.mid(i, close - i + 1));
            i = close;
        }
        if (out->size() > maxValueLength)
            return fail(ERROR_GENERAL_SYNTAX, entry.line, QStringLiteral("a value longer than 4096 characters"));
    }
    return true;
}

bool Reader::readVersion(Package* package)
{
    const Section* version = section(QStringLiteral("Version"));
    if (!version)
        return fail(ERROR_WRONG_INF_STYLE, 0, QStringLiteral("no [Version] section"));
    const Entry* signature = find(*version, QStringLiteral("Signature"));
    if (!signature)
        return fail(ERROR_WRONG_INF_STYLE, version->line, QStringLiteral("no Signature"));
    if (!value(*signature, 0, &package->signature))
        return false;
    const QString lower = package->signature.toLower();
    if (lower != QLatin1String("$windows nt$") && lower != QLatin1String("$chicago$"))
        return fail(ERROR_WRONG_INF_STYLE, signature->line, QStringLiteral("an unknown Signature: ") + package->signature);
    const Entry* guid = find(*version, QStringLiteral("ClassGuid"));
    QString guidText;
    GUID parsed;
    if (!guid)
        return fail(ERROR_NO_ASSOCIATED_CLASS, version->line, QStringLiteral("no ClassGuid"));
    if (!value(*guid, 0, &guidText))
        return false;
    if (!parseGuidText(guidText.toStdString(), &parsed))
        return fail(ERROR_GENERAL_SYNTAX, guid->line, QStringLiteral("ClassGuid is not a GUID: ") + guidText);
    package->classGuid = QString::fromStdString(platform::guidText(parsed));
    for (const auto& [key, target] : {std::pair{QStringLiteral("Class"), &package->className},
                                      std::pair{QStringLiteral("Provider"), &package->provider}}) {
        const Entry* entry = find(*version, key);
        if (entry && !value(*entry, 0, target))
            return false;
    }
    const Entry* driverVer = find(*version, QStringLiteral("DriverVer"));
    if (!driverVer)
        return true;
    if (!value(*driverVer, 0, &package->driverDate) || !value(*driverVer, 1, &package->driverVersion))
        return false;
    static const QRegularExpression date(QStringLiteral("^\\d{1,2}/\\d{1,2}/\\d{4}$"));
    static const QRegularExpression number(QStringLiteral("^(\\d{1,5}(\\.\\d{1,5}){0,3})?$"));
    if (!date.match(package->driverDate).hasMatch() || !number.match(package->driverVersion).hasMatch())
        return fail(ERROR_GENERAL_SYNTAX, driverVer->line, QStringLiteral("DriverVer is not mm/dd/yyyy[,w.x.y.z]"));
    return true;
}

// A decoration ("NTx86.5.1") and whether it applies to the target: its architecture part
// and version, better when it names the architecture and when its version is higher.
int decorationScore(const QString& decoration, const Target& target)
{
    const QStringList parts = decoration.toLower().split(QLatin1Char('.'));
    const QString arch = parts.value(0);
    int score = 0;
    if (arch == QLatin1String("ntamd64"))
        score = target.amd64 ? 2 : -1;
    else if (arch == QLatin1String("ntx86"))
        score = target.amd64 ? -1 : 2;
    else if (arch == QLatin1String("nt"))
        score = target.amd64 ? -1 : 1;
    else
        return -1;
    if (!target.nt || score < 0)
        return -1;
    bool okMajor = true;
    bool okMinor = true;
    const int major = parts.size() > 1 ? parts.at(1).toInt(&okMajor) : 0;
    const int minor = parts.size() > 2 ? parts.at(2).toInt(&okMinor) : 0;
    if (!okMajor || !okMinor || major > 255 || minor > 255)
        return -1;
    if (major > target.major || (major == target.major && minor > target.minor))
        return -1;
    return score * 65536 + major * 256 + minor;
}

// The models section of a manufacturer line for the target; empty when it has none there.
QString Reader::chosenModels(const Entry& entry, const QString& base) const
{
    QString best;
    int bestScore = -1;
    for (qsizetype i = 1; i < entry.fields.size(); ++i) {
        QString decoration;
        value(entry, i, &decoration);
        const int score = decorationScore(decoration, m_target);
        if (score > bestScore) {
            bestScore = score;
            best = base + QLatin1Char('.') + decoration;
        }
    }
    if (bestScore >= 0)
        return best;
    if (m_target.amd64)
        return QString();
    return base;
}

bool Reader::readManufacturer(const Entry& entry, Package* package)
{
    QString base;
    if (!value(entry, 0, &base))
        return false;
    if (base.isEmpty())
        return fail(ERROR_GENERAL_SYNTAX, entry.line, QStringLiteral("a manufacturer without a models section"));
    const QString manufacturer = entry.hasKey ? entry.key : base;
    const QString chosen = chosenModels(entry, base);
    if (chosen.isEmpty())
        return true;
    const Section* models = section(chosen);
    if (!models) {
        // A package made for other machines only lists decorations this one does not take.
        if (entry.fields.size() > 1 && chosen == base)
            return true;
        return fail(ERROR_SECTION_NOT_FOUND, entry.line, QStringLiteral("no models section [") + chosen + QLatin1Char(']'));
    }
    for (const Entry& model : models->entries) {
        if (!readModel(manufacturer, model, package))
            return false;
    }
    return true;
}

bool Reader::readModel(const QString& manufacturer, const Entry& entry, Package* package)
{
    if (!entry.hasKey)
        return fail(ERROR_GENERAL_SYNTAX, entry.line, QStringLiteral("a model line needs \"description = install-section, id\""));
    if (package->models.size() >= maxModels)
        return fail(ERROR_GENERAL_SYNTAX, entry.line, QStringLiteral("more than 4096 models"));
    Model model;
    model.manufacturer = manufacturer;
    model.line = entry.line;
    QString install;
    if (!value(Entry{entry.line, false, QString(), {entry.key}}, 0, &model.description) || !value(entry, 0, &install))
        return false;
    if (install.isEmpty())
        return fail(ERROR_GENERAL_SYNTAX, entry.line, QStringLiteral("a model without an install section"));
    for (qsizetype i = 1; i < entry.fields.size(); ++i) {
        QString id;
        if (!value(entry, i, &id))
            return false;
        if (!id.isEmpty())
            model.ids.append(id);
    }
    if (model.ids.isEmpty())
        return fail(ERROR_GENERAL_SYNTAX, entry.line, QStringLiteral("a model without a hardware id"));
    model.installSection = chosenInstall(install);
    if (model.installSection.isEmpty())
        return fail(ERROR_SECTION_NOT_FOUND, entry.line, QStringLiteral("no install section [") + install + QLatin1Char(']'));
    if (!readServices(model.installSection, &model))
        return false;
    package->models.append(model);
    return true;
}

// The install section the target takes: decorated for it when the file has that, else as named.
QString Reader::chosenInstall(const QString& base) const
{
    QStringList candidates;
    if (m_target.nt)
        candidates << base + (m_target.amd64 ? QStringLiteral(".NTamd64") : QStringLiteral(".NTx86")) << base + QStringLiteral(".NT");
    candidates << base;
    for (const QString& candidate : candidates) {
        if (const Section* found = section(candidate))
            return found->name;
    }
    return QString();
}

bool Reader::readServices(const QString& installSection, Model* model)
{
    const Section* services = section(installSection + QStringLiteral(".Services"));
    if (!services)
        return true;
    for (const Entry& entry : services->entries) {
        if (!entry.hasKey || entry.key.compare(QLatin1String("AddService"), Qt::CaseInsensitive) != 0)
            continue;
        Service service;
        if (!readService(entry, &service))
            return false;
        model->services.append(service);
    }
    return true;
}

bool number(const QString& text, std::uint32_t* out)
{
    bool ok = false;
    const qulonglong parsed = text.trimmed().toULongLong(&ok, 0);
    if (!ok || parsed > 0xFFFFFFFFull)
        return false;
    *out = std::uint32_t(parsed);
    return true;
}

bool Reader::readService(const Entry& entry, Service* service)
{
    QString flags;
    if (!value(entry, 0, &service->name) || !value(entry, 1, &flags) || !value(entry, 2, &service->installSection))
        return false;
    if (service->name.isEmpty() || service->installSection.isEmpty())
        return fail(ERROR_GENERAL_SYNTAX, entry.line, QStringLiteral("AddService needs a name and a section"));
    if (!flags.isEmpty() && !number(flags, &service->flags))
        return fail(ERROR_GENERAL_SYNTAX, entry.line, QStringLiteral("AddService flags are not a number"));
    const Section* install = section(service->installSection);
    if (!install)
        return fail(ERROR_SECTION_NOT_FOUND, entry.line, QStringLiteral("no service section [") + service->installSection + QLatin1Char(']'));
    const std::pair<const char*, std::uint32_t*> numbers[] = {
        {"ServiceType", &service->serviceType}, {"StartType", &service->startType}, {"ErrorControl", &service->errorControl}};
    for (const auto& [key, target] : numbers) {
        const Entry* found = find(*install, QLatin1String(key));
        QString text;
        if (found && (!value(*found, 0, &text) || !number(text, target)))
            return fail(ERROR_GENERAL_SYNTAX, found->line, QLatin1String(key) + QStringLiteral(" is not a number"));
    }
    const std::pair<const char*, QString*> texts[] = {
        {"ServiceBinary", &service->serviceBinary}, {"DisplayName", &service->displayName}, {"LoadOrderGroup", &service->loadOrderGroup}};
    for (const auto& [key, target] : texts) {
        const Entry* found = find(*install, QLatin1String(key));
        if (found && !value(*found, 0, target))
            return false;
    }
    return true;
}

bool Reader::readPackage(Package* package)
{
    if (!readVersion(package))
        return false;
    const Section* manufacturers = section(QStringLiteral("Manufacturer"));
    if (!manufacturers)
        return true;
    for (const Entry& entry : manufacturers->entries) {
        if (!readManufacturer(entry, package))
            return false;
    }
    return true;
}

} // namespace

bool read(const QByteArray& bytes, const Target& target, Package* package, Error* error)
{
    QString text;
    if (!decode(bytes, &text, error))
        return false;
    Reader reader(target, error);
    Package read;
    if (!reader.parse(text) || !reader.readPackage(&read))
        return false;
    *package = read;
    return true;
}

QString errorText(const Error& error)
{
    if (error.line <= 0)
        return error.reason;
    return QStringLiteral("line %1: %2").arg(error.line).arg(error.reason);
}

int matchRank(const Model& model, const QStringList& hardwareIds, const QStringList& compatibleIds)
{
    const QStringList nodeIds = hardwareIds + compatibleIds;
    for (qsizetype i = 0; i < nodeIds.size(); ++i) {
        if (model.ids.contains(nodeIds.at(i), Qt::CaseInsensitive))
            return int(i);
    }
    return -1;
}

} // namespace winsteps::platform::emulated::inf
