// Every fuzz target over its seed corpus and over the kept inputs of faults found and fixed.
// A fault that comes back crashes or fails here, named by its target and file. Inputs under
// fuzz/pending (faults not fixed yet) are not replayed.

#include <QDir>
#include <QtTest>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#define FUZZ_TARGETS(X) X(config) X(expression) X(path) X(document) X(wizard) X(regfile) X(profile) X(pe) X(component) X(wininit) X(inf) X(device)

#define DECLARE_TARGET(name) extern "C" int fuzzReplay_##name(const std::uint8_t* data, std::size_t size);
FUZZ_TARGETS(DECLARE_TARGET)
#undef DECLARE_TARGET

namespace {

struct Target
{
    const char* name;
    int (*entry)(const std::uint8_t*, std::size_t);
};

#define TARGET_ROW(name) Target{#name, fuzzReplay_##name},
const Target Targets[] = {FUZZ_TARGETS(TARGET_ROW)};
#undef TARGET_ROW

// Each seed corpus holds at least this many inputs.
constexpr int MinimumCorpus = 50;

QFileInfoList filesIn(const char* kind, const Target& target)
{
    return QDir(QStringLiteral(FUZZ_DIR "/%1/%2").arg(QLatin1String(kind), QLatin1String(target.name)))
        .entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TstFuzzReplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void replay_data();
    void replay();
};

// One row per input; a corpus that is too small, or a folder of inputs that no target in the
// list would replay, fails while the rows are made.
void TstFuzzReplay::replay_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("file");
    for (const char* kind : {"corpus", "crashes"}) {
        const QDir folder(QStringLiteral(FUZZ_DIR "/") + QLatin1String(kind));
        for (const QString& name : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const auto named = [&name](const Target& target) { return name == QLatin1String(target.name); };
            QVERIFY2(std::any_of(std::begin(Targets), std::end(Targets), named), qPrintable(folder.filePath(name)));
        }
    }
    for (int i = 0; i < int(std::size(Targets)); ++i) {
        QVERIFY2(filesIn("corpus", Targets[i]).size() >= MinimumCorpus, Targets[i].name);
        for (const char* kind : {"corpus", "crashes"}) {
            for (const QFileInfo& file : filesIn(kind, Targets[i]))
                QTest::addRow("%s/%s/%s", Targets[i].name, kind, qPrintable(file.fileName())) << i << file.filePath();
        }
    }
}

void TstFuzzReplay::replay()
{
    QFETCH(int, target);
    QFETCH(QString, file);
    QFile input(file);
    QVERIFY2(input.open(QIODevice::ReadOnly), qPrintable(file));
    const QByteArray data = input.readAll();
    // 0 for a taken input, -1 for one the target skips (too long); anything else is a fault.
    const int result = Targets[target].entry(reinterpret_cast<const std::uint8_t*>(data.constData()), std::size_t(data.size()));
    QVERIFY2(result == 0 || result == -1, qPrintable(file));
}

QTEST_MAIN(TstFuzzReplay)
#include "tst_fuzzreplay.moc"
