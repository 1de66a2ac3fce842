// The emulated registry beyond what the contract tests check through the interface: malformed
// paths and handles, the access marks of a machine's keys, profiles that seed the registry,
// the registry-editor format, delayed removal as stored and the restart that carries it out,
// and the machine folder's database (persistence, schema, crashes, concurrent processes).

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/regfile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "support/files.h"
#include "support/freshmachine.h"
#include "support/registryvalues.h"

#include <sqlite3.h>

using namespace winsteps::platform;
using emulated::EmulatedMachine;
using namespace testsupport;
using emulated::RegistryStore;

namespace {

// Whether the machine in folder is sound and holds the first count values the regwriter
// wrote under prefix. Without values there may be no machine yet: a writer killed at once.
bool writtenValuesKept(const QString& folder, const QString& prefix, int count)
{
    if (count == 0)
        return true;
    QString error;
    auto m = EmulatedMachine::openExisting(folder, &error);
    if (!m || m->integrityCheck() != QLatin1String("ok")) {
        qWarning("reopening the machine: %s", qPrintable(error));
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (value(m->registry(), HKEY_CURRENT_USER, "Software\\Crash\\" + prefix.toStdString(), "v" + std::to_string(i))
            != sz(QStringLiteral("%1-%2").arg(prefix).arg(i)))
            return false;
    }
    return true;
}

bool import(Registry& m, const QByteArray& text, std::string* error)
{
    return importRegistry(m, std::vector<std::uint8_t>(text.begin(), text.end()), error);
}

} // namespace

class TstRegistry : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // What the contract tests leave out: malformed paths, handles that are none, a hive of the
    // other family, and a short buffer left as it was.
    void errors()
    {
        auto m = fresh();
        QVERIFY(m);
        Registry& r = m->registry();
        HKEY key = HKEY_NULL;
        QCOMPARE(r.regOpenKeyEx(HKEY_CURRENT_USER, "Software\\\\Microsoft", KEY_READ, &key), ERROR_BAD_PATHNAME);
        QCOMPARE(r.regOpenKeyEx(HKEY_CURRENT_USER, "Software\\", KEY_READ, &key), ERROR_SUCCESS);
        r.regCloseKey(key);
        QCOMPARE(r.regDeleteKeyEx(HKEY_CURRENT_USER, std::string(), 0), ERROR_ACCESS_DENIED);
        QVERIFY(keyExists(r, HKEY_CURRENT_USER, "Software"));
        std::uint32_t size = 3;
        QCOMPARE(r.regQueryValueEx(0x4711, "x", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
        QCOMPARE(r.regOpenKeyEx(HKEY_DYN_DATA, std::string(), KEY_READ, &key), ERROR_INVALID_HANDLE);
        QCOMPARE(setValue(r, HKEY_CURRENT_USER, "Software\\Short", "v", REG_SZ, sz("abc")), ERROR_SUCCESS);
        QCOMPARE(r.regOpenKeyEx(HKEY_CURRENT_USER, "Software\\Short", KEY_READ, &key), ERROR_SUCCESS);
        QByteArray out(4, '\x7f');
        QCOMPARE(r.regQueryValueEx(key, "v", nullptr, reinterpret_cast<std::uint8_t*>(out.data()), &size), ERROR_MORE_DATA);
        QCOMPARE(out, QByteArray(4, '\x7f'));
        r.regCloseKey(key);
    }

    // Marks a machine's keys can carry beyond Windows' own rights: read-only, denied, or full.
    void rights_data()
    {
        QTest::addColumn<int>("access");
        QTest::addColumn<uint>("read");   // opening to read
        QTest::addColumn<uint>("change"); // opening for all access, a sub-key made, the key deleted

        QTest::newRow("read-only") << int(RegistryStore::AccessRead) << ERROR_SUCCESS << ERROR_ACCESS_DENIED;
        QTest::newRow("denied") << int(RegistryStore::AccessDenied) << ERROR_ACCESS_DENIED << ERROR_ACCESS_DENIED;
        QTest::newRow("marked full") << int(RegistryStore::AccessFull) << ERROR_SUCCESS << ERROR_SUCCESS;
    }

    void rights()
    {
        QFETCH(int, access);
        QFETCH(uint, read);
        QFETCH(uint, change);
        auto m = fresh();
        QVERIFY(m);
        Registry& r = m->registry();
        QCOMPARE(setValue(r, HKEY_CURRENT_USER, "Software\\Guarded", "v", REG_SZ, sz("x")), ERROR_SUCCESS);
        QCOMPARE(m->setKeyAccess(HKEY_CURRENT_USER, "Software\\Guarded", access), ERROR_SUCCESS);

        QCOMPARE(keyExists(r, HKEY_CURRENT_USER, "Software\\Guarded"), read == ERROR_SUCCESS);
        HKEY key = HKEY_NULL;
        QCOMPARE(r.regOpenKeyEx(HKEY_CURRENT_USER, "Software\\Guarded", KEY_ALL_ACCESS, &key), change);
        if (change == ERROR_SUCCESS)
            r.regCloseKey(key);
        QCOMPARE(r.regCreateKeyEx(HKEY_CURRENT_USER, "Software\\Guarded\\Child", 0, KEY_READ, &key, nullptr), change);
        if (change == ERROR_SUCCESS) {
            r.regCloseKey(key);
            QCOMPARE(r.regDeleteKeyEx(HKEY_CURRENT_USER, "Software\\Guarded\\Child", 0), ERROR_SUCCESS);
        }
        QCOMPARE(r.regDeleteKeyEx(HKEY_CURRENT_USER, "Software\\Guarded", 0), change);

        // The machine's own tools are not bound by the marks.
        m->setSystemAccess(true);
        QCOMPARE(keyExists(r, HKEY_CURRENT_USER, "Software\\Guarded", KEY_ALL_ACCESS), change != ERROR_SUCCESS);
    }

    void folderKeepsMachineAndProfile()
    {
        const QString folder = newFolder();
        QString error;
        QVERIFY(!EmulatedMachine::holdsMachine(folder));
        QVERIFY(!EmulatedMachine::openExisting(folder, &error));
        QVERIFY2(error.endsWith(QStringLiteral("holds no machine")), qPrintable(error));
        QVERIFY(!QFileInfo::exists(folder)); // a refused open leaves nothing behind
        QVERIFY(!EmulatedMachine::openFolder(QStringLiteral("no-such-profile"), folder, &error));
        QVERIFY(!QFileInfo::exists(folder));
        const QString text = QStringLiteral("Grüße – 日本語 😀");
        const std::string utf8Key = QString("Software\\" + text).toStdString();
        {
            auto m = EmulatedMachine::create(QStringLiteral("win2000"), folder, &error);
            QVERIFY2(m, qPrintable(error));
            QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, "Software\\Kept", "v", REG_DWORD, dword(7)), ERROR_SUCCESS);
            QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, utf8Key, text.toStdString(), REG_SZ, sz(text)), ERROR_SUCCESS);
        }
        QVERIFY(!EmulatedMachine::create(QStringLiteral("win2000"), folder, &error));
        QVERIFY2(error.contains(QStringLiteral("already holds a machine (profile \"win2000\")")), qPrintable(error));
        QVERIFY(!EmulatedMachine::openFolder(QStringLiteral("vista"), folder, &error));
        QVERIFY2(error.endsWith(QStringLiteral("was made from profile \"win2000\", not \"vista\"")), qPrintable(error));

        auto m = EmulatedMachine::openFolder(QString(), folder, &error);
        QVERIFY2(m, qPrintable(error));
        QCOMPARE(m->profile().name(), QStringLiteral("win2000"));
        QCOMPARE(m->profile().version().minorVersion, 0u);
        QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, "Software\\Kept", "v"), dword(7));
        // Text is UTF-8 all the way: stored, read back after reopening, exported.
        QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, utf8Key, text.toStdString()), sz(text));
        const QString reg = exported(m->registry(), "HKCU\\Software");
        QVERIFY2(reg.contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\%1]\r\n\"%1\"=\"%1\"\r\n").arg(text)), qPrintable(reg));
        m.reset();

        // A database of a newer schema is refused.
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(folder + QStringLiteral("/machine.db")).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        QVERIFY(!EmulatedMachine::openExisting(folder, &error));
        QVERIFY2(error.contains(QStringLiteral("schema 99")), qPrintable(error));
    }

    void profileSeedsTheRegistry()
    {
        auto m = fresh(QStringLiteral(R"({"inherits": "winxp-sp2", "administrator": false, "registry": {
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings": {"ProxyEnable": 1, "ProxyServer": "proxy:3128"},
        "HKLM\\SOFTWARE\\Seeded": {"@": "default", "list": ["a", "b"], "path": {"type": "REG_EXPAND_SZ", "value": "%TEMP%"},
                                    "blob": {"type": "REG_BINARY", "value": "01,ff"}, "@access": "denied"},
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run": null}})"));
        QVERIFY(m);
        std::uint32_t type = 0;
        QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", "ProxyEnable", &type),
                 dword(1));
        QCOMPARE(type, REG_DWORD);
        QVERIFY(!keyExists(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"));
        QVERIFY(keyExists(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"));
        // A key the profile denies cannot even be read, but by the machine's own tools.
        HKEY key = HKEY_NULL;
        QCOMPARE(m->registry().regOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Seeded", KEY_READ, &key), ERROR_ACCESS_DENIED);
        m->setSystemAccess(true);
        QCOMPARE(value(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Seeded", "list", &type), QByteArray("a\0b\0\0", 5));
        QCOMPARE(type, REG_MULTI_SZ);
        QCOMPARE(value(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Seeded", "", &type), sz("default"));
        QCOMPARE(value(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Seeded", "path", &type), sz("%TEMP%"));
        QCOMPARE(type, REG_EXPAND_SZ);
        QCOMPARE(value(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Seeded", "blob", &type), QByteArray("\x01\xff", 2));
    }

    void exportImportRoundTrip()
    {
        auto source = fresh(QStringLiteral("vista-x64"));
        QVERIFY(source);
        const std::string demo = "SOFTWARE\\Demo \"Quoted\" [x]";
        const REGSAM sam = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
        const QByteArray longBinary(300, '\xab');
        const struct {
            std::string key, name;
            std::uint32_t type;
            QByteArray data;
        } values[] = {
            {demo, "", REG_SZ, sz("default \"value\" with \\ backslash")},
            {demo, "na\"me\\", REG_SZ, sz("x")},
            {demo, "expand", REG_EXPAND_SZ, sz("%SystemRoot%\\ß")},
            {demo, "multi", REG_MULTI_SZ, QByteArray("eins\0zwei\0\xe2\x82\xac\0\0", 15)},
            {demo, "answer", REG_DWORD, dword(42)},
            {demo, "odd dword", REG_DWORD, QByteArray("\x01\x02", 2)},
            {demo, "qword", REG_QWORD, QByteArray("\x01\0\0\0\0\0\0\x80", 8)},
            {demo, "binary", REG_BINARY, longBinary},
            {demo, "none", REG_NONE, QByteArray()},
            {demo, "two lines", REG_SZ, sz("a\r\nb")},
            {demo, "no nul", REG_SZ, QByteArray("raw")},
            {demo + "\\Empty\\Deeper", "", REG_SZ, sz("d")},
        };
        for (const auto& v : values)
            QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, v.key, v.name, v.type, v.data, sam), ERROR_SUCCESS);
        QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Demo32", "v", REG_SZ, sz("32-bit view")), ERROR_SUCCESS);

        const QString text = exported(source->registry());
        QVERIFY(text.startsWith(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n")));
        for (const char* line : {"@=\"default \\\"value\\\" with \\\\ backslash\"", "\"na\\\"me\\\\\"=\"x\"", "\"answer\"=dword:0000002a",
                                 "\"odd dword\"=hex(4):01,02", "\"qword\"=hex(b):01,00,00,00,00,00,00,80", "\"none\"=hex(0):",
                                 "\"multi\"=hex(7):65,00,69,00,6e,00,73,00,00,00,7a,00,77,00,65,00,69,00,00,00,ac,20,00,00,00,00",
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Demo32]"})
            QVERIFY2(QString(text).remove(QStringLiteral("\\\r\n  ")).contains(QString::fromUtf8(line)), line);
        // Long hex data is wrapped within 80 columns.
        for (const QString& line : text.split(QStringLiteral("\r\n")))
            QVERIFY2(line.size() <= 80 || !line.contains(QLatin1String("hex")), qPrintable(line));

        auto target = fresh(QStringLiteral("vista-x64"));
        QVERIFY(target);
        std::string error;
        QVERIFY2(import(target->registry(), text.toUtf8(), &error), error.c_str());
        QCOMPARE(exported(target->registry()), text);
        QCOMPARE(value(target->registry(), HKEY_LOCAL_MACHINE, demo, "binary", nullptr, KEY_READ | KEY_WOW64_64KEY), longBinary);
        QCOMPARE(value(target->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Demo32", "v"), sz("32-bit view"));
    }

    void importEditorUtf16File()
    {
        auto m = fresh();
        QVERIFY(m);
        QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, "Software\\Old\\Sub", "v", REG_SZ, sz("x")), ERROR_SUCCESS);
        QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, "Software\\Keep", "gone", REG_SZ, sz("x")), ERROR_SUCCESS);
        const QString text = QStringLiteral(
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "; exported by hand\r\n"
            "[HKEY_CURRENT_USER\\Software\\Imported]\r\n"
            "\"Path\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,e9,00,00,00\r\n"
            "\"List\"=hex(7):61,00,00,00,62,00,\\\r\n"
            "  00,00,00,00\r\n"
            "\"Count\"=dword:00000010\r\n"
            "@=\"Standard\"\r\n\r\n"
            "[-HKEY_CURRENT_USER\\Software\\Old]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Keep]\r\n"
            "\"gone\"=-\r\n");
        std::string error;
        QVERIFY2(import(m->registry(), testsupport::utf16(text), &error), error.c_str());
        std::uint32_t type = 0;
        QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, "Software\\Imported", "Path", &type), sz(QStringLiteral("%TEMP%\\é")));
        QCOMPARE(type, REG_EXPAND_SZ);
        QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, "Software\\Imported", "List", &type), QByteArray("a\0b\0\0", 5));
        QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, "Software\\Imported", "Count"), dword(16));
        QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, "Software\\Imported", ""), sz("Standard"));
        QVERIFY(!keyExists(m->registry(), HKEY_CURRENT_USER, "Software\\Old"));
        QVERIFY(keyExists(m->registry(), HKEY_CURRENT_USER, "Software\\Keep"));
        QVERIFY(value(m->registry(), HKEY_CURRENT_USER, "Software\\Keep", "gone").isNull());
    }

    void delayedRemovalAsStored()
    {
        auto old = fresh(QStringLiteral("win98"));
        QVERIFY(old);
        QCOMPARE(old->files().moveFileEx("C:\\a.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_CALL_NOT_IMPLEMENTED);
        QVERIFY(old->pendingFileOperations().isEmpty());

        // Stored as the names are spelt on the machine, a host path of the drive as its Windows path.
        auto m = fresh();
        QVERIFY(m);
        QVERIFY(QDir().mkpath(m->hostPath(QStringLiteral("C:\\Program Files\\Demo"))));
        QCOMPARE(m->files().moveFileEx("c:\\program files\\demo\\a.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_SUCCESS);
        const std::string target = "C:\\Program Files\\Demo\\c.txt";
        QCOMPARE(m->files().moveFileEx(m->files().localFilePath("C:\\Program Files\\Demo\\b.txt"), &target,
                                       MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING),
                 ERROR_SUCCESS);
        m->setSystemAccess(true);
        QByteArray expected;
        for (const char* item : {"\\??\\C:\\Program Files\\Demo\\a.txt", "", "\\??\\C:\\Program Files\\Demo\\b.txt",
                                 "!\\??\\C:\\Program Files\\Demo\\c.txt", ""})
            expected += QByteArray(item) + '\0';
        QCOMPARE(value(m->registry(), HKEY_LOCAL_MACHINE, SESSION_MANAGER_KEY, PENDING_FILE_RENAME_OPERATIONS), expected);
    }

    void rebootRemovesInOrderAndRunsOnce()
    {
        auto m = fresh();
        QVERIFY(m);
        const QString demo = m->hostPath(QStringLiteral("C:\\Program Files\\Demo"));
        for (const char* file : {"/a.txt", "/sub/b.txt", "/keep.txt"})
            QVERIFY(writeFile(demo + QLatin1String(file), QByteArray()));
        for (const char* path : {"C:\\Program Files\\Demo\\sub\\b.txt", "C:\\Program Files\\Demo\\sub", "C:\\Program Files\\Demo\\a.txt",
                                 "C:\\Program Files\\Demo", "C:\\Program Files\\Demo\\missing.txt"})
            QCOMPARE(m->files().moveFileEx(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_SUCCESS);
        const std::string respelt = "C:\\Program Files\\Demo\\KEEP.TXT"; // the same file, named anew
        QCOMPARE(m->files().moveFileEx("C:\\Program Files\\Demo\\keep.txt", &respelt, MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_SUCCESS);
        const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
        QCOMPARE(setValue(m->registry(), HKEY_LOCAL_MACHINE, run + "Once", "finish", REG_SZ, sz("C:\\finish.exe /quiet")), ERROR_SUCCESS);
        QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, run + "Once", "welcome", REG_SZ, sz("welcome.exe")), ERROR_SUCCESS);
        QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, run, "tray", REG_SZ, sz("tray.exe")), ERROR_SUCCESS);
        HKEY key = HKEY_NULL;
        QCOMPARE(m->registry().regCreateKeyEx(HKEY_CURRENT_USER, "Volatile", REG_OPTION_VOLATILE, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
        m->registry().regCloseKey(key);

        QList<EmulatedMachine::BootEntry> done;
        QString error;
        QVERIFY2(m->reboot(&done, &error), qPrintable(error));
        QStringList log;
        for (const auto& entry : done)
            log << entry.action + QLatin1Char(' ') + entry.detail;
        const QStringList expected = {
            "removed C:\\Program Files\\Demo\\sub\\b.txt",
            "removed C:\\Program Files\\Demo\\sub",
            "removed C:\\Program Files\\Demo\\a.txt",
            "not removed C:\\Program Files\\Demo: directory not empty",
            "not removed C:\\Program Files\\Demo\\missing.txt: not found",
            "renamed C:\\Program Files\\Demo\\keep.txt -> C:\\Program Files\\Demo\\KEEP.TXT",
            "ran HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce: finish = C:\\finish.exe /quiet",
            "ran HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce: welcome = welcome.exe",
        };
        QCOMPARE(log, expected);
        QCOMPARE(QDir(demo).entryList(QDir::Files), QStringList{"KEEP.TXT"});
        QVERIFY(!QFileInfo::exists(demo + QStringLiteral("/sub")));
        QVERIFY(m->pendingFileOperations().isEmpty());
        QVERIFY(value(m->registry(), HKEY_CURRENT_USER, run + "Once", "welcome").isNull());
        QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, run, "tray"), sz("tray.exe"));
        QVERIFY(!keyExists(m->registry(), HKEY_CURRENT_USER, "Volatile"));
        QCOMPARE(m->statistics().boots, 1);
        QCOMPARE(m->bootLog(1).size(), expected.size());

        QVERIFY(m->reboot(&done, &error));
        QVERIFY(done.isEmpty());
        QCOMPARE(m->statistics().boots, 2);
    }

    void killedWriterLosesNothingReported()
    {
        const QString folder = newFolder();
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        // Every wait below is for a state of the writer (started, a line written, ended), never
        // for a time, so that a slow or loaded machine only makes the test slower.
        for (int round = 0; round < 50; ++round) {
            const QString prefix = QStringLiteral("r%1").arg(round);
            const QString where = QStringLiteral("seed %1, round %2 of 50: ").arg(seed).arg(round);
            QProcess writer;
            writer.start(QStringLiteral(REGWRITER), {folder, prefix, QStringLiteral("100000")});
            QVERIFY2(writer.waitForStarted(-1), qPrintable(where + writer.errorString()));
            // Killed at once (perhaps while the machine is being made) or after some writes.
            const int wanted = int(random.bounded(25u));
            int last = -1; // the last value the writer reported written
            QByteArray output;
            const auto readLines = [&] {
                output += writer.readAllStandardOutput();
                for (qsizetype eol; (eol = output.indexOf('\n')) >= 0; output.remove(0, eol + 1))
                    last = output.left(eol).toInt();
            };
            while (last + 1 < wanted && writer.state() == QProcess::Running && writer.waitForReadyRead(-1))
                readLines();
            writer.kill();
            QVERIFY2(writer.state() == QProcess::NotRunning || writer.waitForFinished(-1), qPrintable(where + writer.errorString()));
            readLines();
            QVERIFY2(writer.exitStatus() == QProcess::CrashExit || writer.exitCode() == 0,
                     qPrintable(where + QString::fromLocal8Bit(writer.readAllStandardError())));
            QVERIFY2(writtenValuesKept(folder, prefix, last + 1), qPrintable(where + QStringLiteral("reported values lost")));
        }
    }

    void processesOpenOneFreshFolderAtOnce_data()
    {
        QTest::addColumn<int>("processes");
        QTest::addColumn<int>("count"); // values each one writes
        QTest::newRow("two writers, long") << 2 << 150;
        QTest::newRow("eight openers, short") << 8 << 5;
    }

    void processesOpenOneFreshFolderAtOnce()
    {
        // Each process creates or opens the same new folder, then writes its own values; every
        // one must succeed and every value be there afterwards.
        QFETCH(int, processes);
        QFETCH(int, count);
        const QString folder = newFolder();
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int w = 0; w < processes; ++w) {
            writers.push_back(std::make_unique<QProcess>());
            writers.back()->start(QStringLiteral(REGWRITER), {folder, QStringLiteral("w%1").arg(w), QString::number(count)});
        }
        // Each runs to its end however long the machine takes; the suite's time limit stops a hang.
        for (int w = 0; w < processes; ++w) {
            QProcess& writer = *writers[w];
            QVERIFY2(writer.waitForStarted(-1), qPrintable(writer.errorString()));
            QVERIFY(writer.state() == QProcess::NotRunning || writer.waitForFinished(-1));
            QVERIFY2(writer.exitStatus() == QProcess::NormalExit && writer.exitCode() == 0,
                     qPrintable(QStringLiteral("writer %1, code %2: ").arg(w).arg(writer.exitCode())
                                + QString::fromLocal8Bit(writer.readAllStandardError())));
        }
        for (int w = 0; w < processes; ++w)
            QVERIFY2(writtenValuesKept(folder, QStringLiteral("w%1").arg(w), count), qPrintable(QString::number(w)));
    }

private:
    std::unique_ptr<EmulatedMachine> fresh(const QString& profile = QStringLiteral("winxp-sp2"))
    {
        return testsupport::freshMachine(m_dir, profile);
    }
    QString newFolder() { return testsupport::freshFolder(m_dir); }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TstRegistry)
#include "tst_registry.moc"
