// WININIT.INI: the input is the text a wizard or an installer left in the Windows folder of a
// 9x machine. Its renames are read as the restart reads them (no side empty or untrimmed, no
// line end inside); the text with the engine's rename added, as the machine's InstMsiA.exe
// adds it, reads as the same renames with that one more and nothing else changed.

#include "fuzzsupport.h"

#include "platform/emulated/wininit.h"

#include <algorithm>

namespace {

using winsteps::platform::emulated::WininitRename;

bool same(const WininitRename& a, const WininitRename& b)
{
    return a.target == b.target && a.source == b.source;
}

void checkRead(const QList<WininitRename>& renames)
{
    for (const WininitRename& rename : renames) {
        for (const QString& side : {rename.target, rename.source}) {
            if (side != side.trimmed() || side.contains(QLatin1Char('\n')) || side.contains(QLatin1Char('\r'))
                || side.contains(QChar(0)))
                qFatal("a rename has a side that is not one trimmed line: \"%s\"", qPrintable(side));
        }
        if (rename.source.isEmpty() || rename.target.compare(QLatin1String("NUL"), Qt::CaseInsensitive) == 0)
            qFatal("a rename without a source, or with NUL as its target, was read");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace winsteps::platform::emulated;
    if (size > std::size_t(maxWininitSize))
        return -1;
    const QByteArray text = fuzzsupport::bytes(data, size);
    const QList<WininitRename> renames = wininitRenames(text);
    checkRead(renames);
    const WininitRename engine{QStringLiteral("C:\\WINDOWS\\SYSTEM\\msiexec.exe"), QStringLiteral("C:\\WINDOWS\\SYSTEM\\MSIEXEC.NEW")};
    QList<WininitRename> after = wininitRenames(withWininitRename(text, engine));
    checkRead(after);
    // The text may hold the same rename already: one of its places must be the added one.
    bool found = false;
    for (qsizetype i = 0; i < after.size() && !found; ++i) {
        if (!same(after.at(i), engine))
            continue;
        QList<WininitRename> without = after;
        without.removeAt(i);
        found = std::equal(without.begin(), without.end(), renames.begin(), renames.end(), same);
    }
    if (!found)
        qFatal("adding a rename did not add just that one (%lld before, %lld after)", qlonglong(renames.size()),
               qlonglong(after.size()));
    fuzzsupport::keep(std::size_t(renames.size()));
    return 0;
}
