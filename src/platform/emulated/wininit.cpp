// WININIT.INI (see wininit.h), and how the emulated start of a 9x machine carries it out.

#include "platform/emulated/wininit.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/filejournal.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <system_error>

namespace winsteps::platform::emulated {

namespace {

const QRegularExpression lineEnd(QStringLiteral("\r\n|\n|\r|\\x{0}"));

// The section name of a "[name]" line, or a null string for any other line.
QString sectionName(const QString& line)
{
    const QString trimmed = line.trimmed();
    const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
    if (!trimmed.startsWith(QLatin1Char('[')) || close < 0)
        return QString();
    return trimmed.mid(1, close - 1).trimmed();
}

// The lines of the text; a UTF-8 byte-order mark in front is no part of the first one.
QStringList linesOf(const QByteArray& text)
{
    const bool marked = text.startsWith("\xEF\xBB\xBF");
    return QString::fromUtf8(marked ? text.mid(3) : text).split(lineEnd);
}

bool isRenameSection(const QString& name)
{
    return name.compare(QLatin1String("rename"), Qt::CaseInsensitive) == 0;
}

} // namespace

QList<WininitRename> wininitRenames(const QByteArray& text)
{
    QList<WininitRename> renames;
    bool inRename = false;
    const QStringList lines = linesOf(text);
    for (const QString& line : lines) {
        const QString section = sectionName(line);
        if (!section.isNull()) {
            inRename = isRenameSection(section);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inRename || equals < 0 || line.trimmed().startsWith(QLatin1Char(';')))
            continue;
        const QString target = line.left(equals).trimmed();
        const QString source = line.mid(equals + 1).trimmed();
        if (target.isEmpty() || source.isEmpty())
            continue;
        const bool removal = target.compare(QLatin1String("NUL"), Qt::CaseInsensitive) == 0;
        renames.append({removal ? QString() : target, source});
    }
    return renames;
}

QByteArray withWininitRename(const QByteArray& text, const WininitRename& rename)
{
    QStringList lines = linesOf(text);
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    const QString entry = (rename.target.isEmpty() ? QStringLiteral("NUL") : rename.target) + QLatin1Char('=') + rename.source;
    qsizetype insertAt = -1; // after the last line that is not blank in the first [rename]
    bool inRename = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString section = sectionName(lines.at(i));
        if (!section.isNull()) {
            if (inRename)
                break;
            inRename = isRenameSection(section);
        }
        if (inRename && !lines.at(i).trimmed().isEmpty())
            insertAt = i + 1;
    }
    if (insertAt < 0)
        lines << QStringLiteral("[rename]") << entry;
    else
        lines.insert(insertAt, entry);
    return (lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n")).toUtf8();
}

QString wininitPath(const MachineProfile& profile)
{
    return QStringLiteral("C:\\%1\\WININIT.INI").arg(profile.windowsFolder());
}

QString wininitBackupPath(const MachineProfile& profile)
{
    return QStringLiteral("C:\\%1\\WININIT.BAK").arg(profile.windowsFolder());
}

// --- the machine's side ---------------------------------------------------------------------

// The text of the machine's WININIT.INI: only a file of its own inside drive C: (never a link
// that leads elsewhere). False when there is none or it is too large (*tooLarge says which).
bool EmulatedMachine::readWininit(QByteArray* text, bool* tooLarge) const
{
    *tooLarge = false;
    const QString host = hostPath(wininitPath(m_profile));
    const QFileInfo info(host);
    QFile file(host);
    if (m_profile.isNt() || info.isSymLink() || !info.isFile() || !insideDriveC(host) || !file.open(QIODevice::ReadOnly))
        return false;
    *text = file.read(maxWininitSize + 1);
    *tooLarge = text->size() > maxWininitSize;
    return !*tooLarge;
}

QList<QPair<QString, QString>> EmulatedMachine::wininitOperations() const
{
    QList<QPair<QString, QString>> result;
    QByteArray text;
    bool tooLarge = false;
    if (!readWininit(&text, &tooLarge))
        return result;
    for (const WininitRename& rename : wininitRenames(text))
        result.append({rename.source, rename.target.isEmpty() ? QString() : QLatin1Char('!') + rename.target});
    return result;
}

// Each rename in order (a target that is there is replaced), then WININIT.INI becomes
// WININIT.BAK, as the 9x family does at its start.
void EmulatedMachine::carryOutWininit(const BootRecord& record)
{
    QByteArray text;
    bool tooLarge = false;
    const QString path = wininitPath(m_profile);
    if (!readWininit(&text, &tooLarge) && !tooLarge)
        return;
    if (tooLarge)
        record(QStringLiteral("not renamed"), path + QStringLiteral(": larger than %1 bytes, skipped").arg(maxWininitSize));
    // The paths are handed on as pending entries ("\??\" keeps a leading "!" a name).
    for (const WininitRename& rename : wininitRenames(text)) {
        carryOutPendingFile(QStringLiteral("\\??\\") + rename.source,
                            rename.target.isEmpty() ? QString() : QStringLiteral("!\\??\\") + rename.target, record);
    }
    const QString backup = wininitBackupPath(m_profile);
    const QFileInfo old(hostPath(backup));
    if ((old.exists() || old.isSymLink()) && !old.isDir())
        FileJournal(*this, FileJournal::Locking::InCallersTransaction).removeEntry(old.filePath());
    const QString to = hostPath(QStringLiteral("C:\\%1").arg(m_profile.windowsFolder())) + QStringLiteral("/WININIT.BAK");
    const int error = FileJournal(*this, FileJournal::Locking::InCallersTransaction).rename(hostPath(path), to);
    const std::error_code failure(error, std::generic_category());
    record(failure ? QStringLiteral("not renamed") : QStringLiteral("renamed"),
           path + QStringLiteral(" -> ") + backup + (failure ? QStringLiteral(": ") + QString::fromStdString(failure.message()) : QString()));
}

} // namespace winsteps::platform::emulated
