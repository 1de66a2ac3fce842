// Every fuzz target over its seed corpus and over the kept inputs of faults found and fixed.
// A fault that comes back crashes or fails here, named by its target and file. Inputs under
// fuzz/pending (faults not fixed yet) are not replayed.

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cstddef>
#include <iterator>
#include <cstdint>

#define FUZZ_TARGETS(X) X(config) X(expression) X(path) X(document) X(wizard) X(regfile) X(profile)

#define DECLARE_TARGET(name) extern "C" int fuzzReplay_##name(const std::uint8_t* data, std::size_t size);
FUZZ_TARGETS(DECLARE_TARGET)
#undef DECLARE_TARGET

namespace {

using Entry = int (*)(const std::uint8_t*, std::size_t);

struct Target
{
    const char* name;
    Entry entry;
};

#define TARGET_ROW(name) Target{#name, fuzzReplay_##name},
const Target Targets[] = {FUZZ_TARGETS(TARGET_ROW)};
#undef TARGET_ROW

// Each seed corpus holds at least this many inputs.
constexpr int MinimumCorpus = 50;

QStringList filesIn(const QString& folder)
{
    QStringList files;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name))
        files << dir.filePath(name);
    return files;
}

} // namespace

class tst_FuzzReplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void corpusIsLargeEnough_data();
    void corpusIsLargeEnough();
    void replay_data();
    void replay();
};

void tst_FuzzReplay::corpusIsLargeEnough_data()
{
    QTest::addColumn<QString>("folder");
    for (const Target& target : Targets)
        QTest::newRow(target.name) << QStringLiteral(FUZZ_DIR "/corpus/") + QLatin1String(target.name);
}

void tst_FuzzReplay::corpusIsLargeEnough()
{
    QFETCH(QString, folder);
    QVERIFY2(filesIn(folder).size() >= MinimumCorpus, qPrintable(folder));
}

void tst_FuzzReplay::replay_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("file");
    for (int i = 0; i < int(std::size(Targets)); ++i) {
        for (const char* kind : {"corpus", "crashes"}) {
            const QString folder = QStringLiteral(FUZZ_DIR "/") + QLatin1String(kind) + QLatin1Char('/')
                                   + QLatin1String(Targets[i].name);
            for (const QString& file : filesIn(folder)) {
                const QString row = QLatin1String(Targets[i].name) + QLatin1Char('/') + QLatin1String(kind)
                                    + QLatin1Char('/') + QFileInfo(file).fileName();
                QTest::newRow(qPrintable(row)) << i << file;
            }
        }
    }
}

void tst_FuzzReplay::replay()
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

QTEST_MAIN(tst_FuzzReplay)
#include "tst_fuzzreplay.moc"
