// The machine journal below the platform interface: each kind of change to the registry and
// to drive C: is undone by a rollback of its run, updates that change nothing are no changes,
// and a file undo is decided by content (a rollback finds some paths restored already).

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machinejournal.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

#include "support/freshmachine.h"
#include "support/registryvalues.h"

using winsteps::platform::emulated::EmulatedMachine;
using winsteps::platform::emulated::MachineJournal;
namespace platform = winsteps::platform;

namespace {

using Change = std::function<void(EmulatedMachine&)>;

void setValue(EmulatedMachine& m, const char* key, const char* name, const QByteArray& text)
{
    QCOMPARE(testsupport::setValue(m.registry(), platform::HKEY_LOCAL_MACHINE, key, name, platform::REG_SZ, text),
             platform::ERROR_SUCCESS);
}

void removeValue(EmulatedMachine& m, const char* key, const char* name)
{
    platform::HKEY handle = 0;
    QCOMPARE(m.registry().regOpenKeyEx(platform::HKEY_LOCAL_MACHINE, key, platform::KEY_ALL_ACCESS, &handle),
             platform::ERROR_SUCCESS);
    QCOMPARE(m.registry().regDeleteValue(handle, name), platform::ERROR_SUCCESS);
    m.registry().regCloseKey(handle);
}

void writeFile(EmulatedMachine& m, const char* path, const QByteArray& content)
{
    platform::FileHandlePtr file;
    QCOMPARE(m.files().createFile(path, platform::GENERIC_WRITE, platform::CREATE_ALWAYS, &file), platform::ERROR_SUCCESS);
    std::uint32_t done = 0;
    QCOMPARE(file->write(content.constData(), std::uint32_t(content.size()), &done), platform::ERROR_SUCCESS);
}

// The registry and drive C: with each file's content.
QString state(EmulatedMachine& m)
{
    QStringList tree{testsupport::exported(m.registry())};
    QDirIterator it(m.driveC(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QFile file(info.filePath());
        tree << info.filePath() + (file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().toHex()) : QString());
    }
    tree.sort();
    return tree.join(QLatin1Char('\n'));
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void rollbackUndoesTheRun_data();
    void rollbackUndoesTheRun();
    void rollbackRefusesToReplaceALaterValue();
    void restartChangesStandInTheWay();

private:
    QTemporaryDir m_dir;
};

void TestJournal::rollbackUndoesTheRun_data()
{
    QTest::addColumn<Change>("setUp");   // outside the run
    QTest::addColumn<Change>("change");  // in the run
    QTest::addColumn<Change>("byHand");  // after the run, outside the journal: part of the undo done already
    QTest::addColumn<int>("changes");    // journal entries of the run
    const Change none = [](EmulatedMachine&) {};
    const Change demoValue = [](EmulatedMachine& m) { setValue(m, "SOFTWARE\\Demo", "Version", "1.0"); };
    const Change demoFile = [](EmulatedMachine& m) {
        QVERIFY(m.files().createDirectory("C:\\Demo") == platform::ERROR_SUCCESS);
        writeFile(m, "C:\\Demo\\a.txt", "old");
    };
    QTest::newRow("a value set anew") << none << demoValue << none << 2;
    QTest::newRow("a value changed") << demoValue << Change([](EmulatedMachine& m) { setValue(m, "SOFTWARE\\Demo", "Version", "2.0"); })
                                     << none << 1;
    QTest::newRow("a value set to what it was is no change") << demoValue << demoValue << none << 0;
    QTest::newRow("a value removed") << demoValue << Change([](EmulatedMachine& m) { removeValue(m, "SOFTWARE\\Demo", "Version"); })
                                     << none << 1;
    QTest::newRow("a key tree made") << none << Change([](EmulatedMachine& m) {
        setValue(m, "SOFTWARE\\Demo\\A\\B", "x", "1");
        setValue(m, "SOFTWARE\\Demo\\A", "y", "2");
    }) << none << 5;
    QTest::newRow("a key tree removed") << Change([](EmulatedMachine& m) { setValue(m, "SOFTWARE\\Demo\\A", "y", "2"); })
                                        << Change([](EmulatedMachine& m) {
                                               removeValue(m, "SOFTWARE\\Demo\\A", "y");
                                               QCOMPARE(m.registry().regDeleteKeyEx(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Demo\\A", 0),
                                                        platform::ERROR_SUCCESS);
                                           })
                                        << none << 2;
    QTest::newRow("a file written anew") << none << Change([](EmulatedMachine& m) { writeFile(m, "C:\\new.txt", "new"); }) << none << 1;
    QTest::newRow("a file written anew, removed by hand")
        << none << Change([](EmulatedMachine& m) { writeFile(m, "C:\\new.txt", "new"); })
        << Change([](EmulatedMachine& m) { QFile::remove(m.driveC() + "/new.txt"); }) << 1;
    QTest::newRow("a file overwritten") << demoFile << Change([](EmulatedMachine& m) { writeFile(m, "C:\\Demo\\a.txt", "new"); })
                                        << none << 1;
    QTest::newRow("a file deleted") << demoFile << Change([](EmulatedMachine& m) {
        QCOMPARE(m.files().deleteFile("C:\\Demo\\a.txt"), platform::ERROR_SUCCESS);
    }) << none << 1;
    QTest::newRow("a file moved over another") << demoFile << Change([](EmulatedMachine& m) {
        writeFile(m, "C:\\Demo\\b.txt", "moved");
        const std::string target = "C:\\Demo\\a.txt";
        QCOMPARE(m.files().moveFileEx("C:\\Demo\\b.txt", &target, platform::MOVEFILE_REPLACE_EXISTING), platform::ERROR_SUCCESS);
    }) << none << 3;
    QTest::newRow("a move recorded, killed before the rename") << demoFile << Change([](EmulatedMachine& m) {
        writeFile(m, "C:\\Demo\\b.txt", "moved");
        const std::string target = "C:\\Demo\\c.txt";
        QCOMPARE(m.files().moveFileEx("C:\\Demo\\b.txt", &target, 0), platform::ERROR_SUCCESS);
    }) << Change([](EmulatedMachine& m) { QVERIFY(QFile::rename(m.driveC() + "/Demo/c.txt", m.driveC() + "/Demo/b.txt")); }) << 3;
    // The folder's content moves with it and must come back with it.
    QTest::newRow("a folder with files moved") << Change([demoFile](EmulatedMachine& m) {
        demoFile(m);
        QCOMPARE(m.files().createDirectory("C:\\Demo\\Sub"), platform::ERROR_SUCCESS);
        writeFile(m, "C:\\Demo\\Sub\\b.txt", "inner");
    }) << Change([](EmulatedMachine& m) {
        const std::string target = "C:\\Moved";
        QCOMPARE(m.files().moveFileEx("C:\\Demo", &target, 0), platform::ERROR_SUCCESS);
    }) << none << 8;
    QTest::newRow("folders made, one removed again by hand") << none << Change([](EmulatedMachine& m) {
        QCOMPARE(m.files().createDirectory("C:\\Demo"), platform::ERROR_SUCCESS);
        QCOMPARE(m.files().createDirectory("C:\\Demo\\Sub"), platform::ERROR_SUCCESS);
    }) << Change([](EmulatedMachine& m) { QDir(m.driveC()).rmdir("Demo/Sub"); }) << 2;
}

void TestJournal::rollbackUndoesTheRun()
{
    QFETCH(Change, setUp);
    QFETCH(Change, change);
    QFETCH(Change, byHand);
    QFETCH(int, changes);
    const std::unique_ptr<EmulatedMachine> m = testsupport::freshMachine(m_dir, QStringLiteral("winxp-sp2"));
    QVERIFY(m);
    setUp(*m);
    const QString before = state(*m);
    MachineJournal journal(*m);
    QString error;
    const qint64 run = journal.beginRun(QStringLiteral("test"), &error);
    QVERIFY2(run > 0, qPrintable(error));
    change(*m);
    QVERIFY(journal.endRun(run, QStringLiteral("failed"), &error));
    if (changes > 0)
        QVERIFY(state(*m) != before);
    QCOMPARE(journal.runs(&error).last().changes, changes);
    byHand(*m);
    QStringList undone;
    QVERIFY2(journal.rollback(run, &undone, &error), qPrintable(error));
    QCOMPARE(undone.size(), changes);
    QCOMPARE(state(*m), before);
    QVERIFY(!journal.runs(&error).last().rolledBack.isEmpty());
}

// A value that the run removed and a later change set again (a new row of the same name)
// stands in the way: the rollback refuses and leaves the later value.
void TestJournal::rollbackRefusesToReplaceALaterValue()
{
    const std::unique_ptr<EmulatedMachine> m = testsupport::freshMachine(m_dir, QStringLiteral("winxp-sp2"));
    QVERIFY(m);
    setValue(*m, "SOFTWARE\\Demo", "Version", "1.0");
    MachineJournal journal(*m);
    QString error;
    const qint64 run = journal.beginRun(QStringLiteral("test"), &error);
    removeValue(*m, "SOFTWARE\\Demo", "Version");
    QVERIFY(journal.endRun(run, QStringLiteral("failed"), &error));
    setValue(*m, "SOFTWARE\\Demo", "Version", "3.0");
    const QString later = state(*m);
    QVERIFY(!journal.rollback(run, nullptr, &error));
    QCOMPARE(error, QStringLiteral("cannot undo run %1: registry value HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo\\Version was made "
                                   "again later").arg(run));
    QCOMPARE(state(*m), later);
}

// The emulated restart's removals are changes outside any run: a rollback of the run that
// overwrote the file it removed refuses (had the run made the file, it would be as before).
void TestJournal::restartChangesStandInTheWay()
{
    const std::unique_ptr<EmulatedMachine> m = testsupport::freshMachine(m_dir, QStringLiteral("winxp-sp2"));
    QVERIFY(m);
    m->setSystemAccess(true);
    writeFile(*m, "C:\\x.txt", "old");
    MachineJournal journal(*m);
    QString error;
    const qint64 run = journal.beginRun(QStringLiteral("test"), &error);
    writeFile(*m, "C:\\x.txt", "new");
    QVERIFY(journal.endRun(run, QStringLiteral("finished"), &error));
    QCOMPARE(m->files().moveFileEx("C:\\x.txt", nullptr, platform::MOVEFILE_DELAY_UNTIL_REBOOT), platform::ERROR_SUCCESS);
    QList<EmulatedMachine::BootEntry> done;
    QVERIFY(m->reboot(&done, &error));
    QVERIFY(!QFile::exists(m->driveC() + QStringLiteral("/x.txt")));
    QVERIFY(!journal.rollback(run, nullptr, &error));
    QCOMPARE(error, QStringLiteral("cannot undo run %1: file C:\\x.txt was changed later by a change outside any run").arg(run));
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
