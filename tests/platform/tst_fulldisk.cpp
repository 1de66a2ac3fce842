// Full disks and failing writes: the registry, file writes and moves, a service install, the
// emulated restart's removals and a rollback, first on a small file system filled to several
// levels (as root only: the test mounts a tmpfs of its own), then with the store's database
// behind a VFS that fails its Nth write or sync. Every failed call must report failure, each
// value and file must be the old or the new one, and afterwards the machine must open, pass
// its integrity check and roll the run back.

#include "actions/cactioncopyfiles.h"
#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machinefolder.h"
#include "platform/emulated/machinejournal.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "support/registryvalues.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using winsteps::platform::emulated::EmulatedMachine;
using winsteps::platform::emulated::MachineJournal;
using namespace winsteps::platform;

namespace {

// --- a small file system of the test's own ------------------------------------------------

// A tmpfs of 12 MiB on dir, unmounted when it goes; why() says why none could be mounted.
class Tmpfs {
public:
    explicit Tmpfs(const QString& dir)
        : m_dir(QFile::encodeName(dir))
    {
        if (::geteuid() != 0)
            m_why = QStringLiteral("mounting a tmpfs takes root");
        else if (!QDir().mkpath(dir) || ::mount("tmpfs", m_dir.constData(), "tmpfs", 0, "size=12m") != 0)
            m_why = QStringLiteral("cannot mount a tmpfs on %1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
    }
    ~Tmpfs()
    {
        if (m_why.isEmpty() && ::umount(m_dir.constData()) != 0)
            ::umount2(m_dir.constData(), MNT_DETACH);
    }
    Q_DISABLE_COPY(Tmpfs)
    QString why() const { return m_why; }

private:
    QByteArray m_dir;
    QString m_why;
};

// Fills the file system of path with one file until nothing is left, then gives back free
// bytes of it.
bool fill(const QString& path, qint64 free)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    static const QByteArray chunk(4096, 'f');
    qint64 size = 0;
    for (;;) {
        const ssize_t n = ::write(fd, chunk.constData(), size_t(chunk.size()));
        if (n <= 0)
            break;
        size += n;
    }
    const bool ok = errno == ENOSPC && ::ftruncate(fd, qMax<qint64>(0, size - free)) == 0;
    ::close(fd);
    return ok;
}

// --- a VFS that fails the Nth write or sync -----------------------------------------------

struct Faults {
    int countdown = 0;       // the write or sync that fails (1: the next); 0: none
    bool persistent = false; // every one after it fails too
    int code = SQLITE_IOERR_WRITE;
    int fired = 0;
};
Faults faults;
sqlite3_vfs* unixVfs = nullptr;

struct FaultyFile {
    sqlite3_file base;
    sqlite3_file* real; // follows this struct, szOsFile of the real VFS
};

int injected()
{
    if (faults.countdown <= 0 || (--faults.countdown > 0))
        return SQLITE_OK;
    ++faults.fired;
    faults.countdown = faults.persistent ? 1 : 0;
    return faults.code;
}

sqlite3_file* real(sqlite3_file* file)
{
    return reinterpret_cast<FaultyFile*>(file)->real;
}

sqlite3_io_methods faultyMethods = {
    3,
    [](sqlite3_file* f) { return real(f)->pMethods ? real(f)->pMethods->xClose(real(f)) : SQLITE_OK; },
    [](sqlite3_file* f, void* b, int n, sqlite3_int64 o) { return real(f)->pMethods->xRead(real(f), b, n, o); },
    [](sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
        const int rc = injected();
        return rc != SQLITE_OK ? rc : real(f)->pMethods->xWrite(real(f), b, n, o);
    },
    [](sqlite3_file* f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); },
    [](sqlite3_file* f, int flags) {
        const int rc = injected();
        return rc != SQLITE_OK ? (rc == SQLITE_IOERR_WRITE ? SQLITE_IOERR_FSYNC : rc) : real(f)->pMethods->xSync(real(f), flags);
    },
    [](sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); },
    [](sqlite3_file* f, int lock) { return real(f)->pMethods->xLock(real(f), lock); },
    [](sqlite3_file* f, int lock) { return real(f)->pMethods->xUnlock(real(f), lock); },
    [](sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); },
    [](sqlite3_file* f, int op, void* arg) { return real(f)->pMethods->xFileControl(real(f), op, arg); },
    [](sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); },
    [](sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); },
    [](sqlite3_file* f, int page, int size, int extend, void volatile** out) {
        return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
    },
    [](sqlite3_file* f, int offset, int n, int flags) { return real(f)->pMethods->xShmLock(real(f), offset, n, flags); },
    [](sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); },
    [](sqlite3_file* f, int remove) { return real(f)->pMethods->xShmUnmap(real(f), remove); },
    [](sqlite3_file* f, sqlite3_int64 o, int n, void** out) { return real(f)->pMethods->xFetch(real(f), o, n, out); },
    [](sqlite3_file* f, sqlite3_int64 o, void* p) { return real(f)->pMethods->xUnfetch(real(f), o, p); },
};

int faultyOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
{
    auto* faulty = reinterpret_cast<FaultyFile*>(file);
    faulty->real = reinterpret_cast<sqlite3_file*>(faulty + 1);
    std::memset(faulty->real, 0, size_t(unixVfs->szOsFile));
    const int rc = unixVfs->xOpen(unixVfs, name, faulty->real, flags, outFlags);
    // SQLite calls xClose whenever pMethods is set, also after a failed open.
    file->pMethods = &faultyMethods;
    return rc;
}

// Registered as the default VFS: the store opens its database through it, as every other
// connection of the process does.
void registerFaultyVfs()
{
    static sqlite3_vfs vfs;
    if (unixVfs)
        return;
    unixVfs = sqlite3_vfs_find(nullptr);
    vfs = *unixVfs;
    vfs.zName = "faulty";
    vfs.szOsFile = int(sizeof(FaultyFile)) + unixVfs->szOsFile;
    vfs.xOpen = faultyOpen;
    sqlite3_vfs_register(&vfs, 1);
}

// --- the machine's state as the checks see it -----------------------------------------------

const char* const demoKey = "SOFTWARE\\FullDisk";

std::uint32_t setValue(EmulatedMachine& m, const QByteArray& data)
{
    return testsupport::setValue(m.registry(), HKEY_LOCAL_MACHINE, demoKey, "Data", REG_BINARY, data);
}

// Writes a whole file through createFile: the first failure's code.
std::uint32_t writeFile(EmulatedMachine& m, const char* path, const QByteArray& content)
{
    FileHandlePtr file;
    std::uint32_t code = m.files().createFile(path, GENERIC_WRITE, CREATE_ALWAYS, &file);
    std::uint32_t done = 0;
    if (code == ERROR_SUCCESS)
        code = file->write(content.constData(), std::uint32_t(content.size()), &done);
    return code;
}

QByteArray content(EmulatedMachine& m, const char* name)
{
    QFile file(m.driveC() + QLatin1Char('/') + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("absent");
}

std::uint32_t createService(EmulatedMachine& m)
{
    SC_HANDLE manager = 0, service = 0;
    std::uint32_t code = m.services().openSCManager("", "", SC_MANAGER_ALL_ACCESS, &manager);
    if (code == ERROR_SUCCESS)
        code = m.services().createService(manager, "FullSvc", "Full disk service " + std::string(2000, 'd'), SERVICE_ALL_ACCESS,
                                          SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                          "C:\\svc.exe", "", {}, "", "", &service);
    if (code == ERROR_SUCCESS)
        m.services().closeServiceHandle(service);
    m.services().closeServiceHandle(manager);
    return code;
}

struct State {
    QByteArray value, a, b, c, d;
    bool service = false;
    bool operator==(const State& o) const
    {
        return value == o.value && a == o.a && b == o.b && c == o.c && d == o.d && service == o.service;
    }
};

// Short: a long content as its first byte and length.
QString shortText(const QByteArray& bytes)
{
    return bytes.size() > 20 ? QStringLiteral("%1 x %2").arg(QChar(bytes.at(0))).arg(bytes.size()) : QString::fromLatin1(bytes);
}

} // namespace

namespace QTest {
template<>
char* toString(const State& s)
{
    return qstrdup(qPrintable(QStringLiteral("value %1, a %2, b %3, c %4, d %5, service %6")
                                  .arg(shortText(s.value), shortText(s.a), shortText(s.b), shortText(s.c), shortText(s.d))
                                  .arg(s.service ? "yes" : "no")));
}
} // namespace QTest

namespace {

State stateOf(EmulatedMachine& m)
{
    // The service by its key: on a full disk the service manager may fail to open.
    return {testsupport::value(m.registry(), HKEY_LOCAL_MACHINE, demoKey, "Data"), content(m, "a.txt"), content(m, "b.txt"),
            content(m, "c.txt"), content(m, "d.txt"),
            testsupport::keyExists(m.registry(), HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\FullSvc")};
}

// What the machine's journal folder holds beyond the old contents its entries keep: staged
// files left over, copies no entry names. (An entry whose state after could not be written
// stays as after a kill, "under way": a rollback decides it by content.)
QStringList strays(const QString& folder)
{
    QSet<QString> kept;
    QStringList found;
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(folder + QStringLiteral("/machine.db")).constData(), &db, SQLITE_OPEN_READONLY, nullptr)
            == SQLITE_OK
        && sqlite3_prepare_v2(db, "SELECT copy FROM journal WHERE copy IS NOT NULL", -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW)
            kept.insert(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    QDirIterator it(folder + QStringLiteral("/journal"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        if (!kept.contains(file.fileName()) || file.path().endsWith(QLatin1String("/staging")))
            found << file.filePath();
    }
    return found;
}

const QByteArray oldValue(100, 'o'), newValue(48 * 1024, 'n');
const QByteArray oldFile(64 * 1024, 'a'), newFile(160 * 1024, 'A');

// The machine before the run: the value, a.txt, b.txt to be moved to c.txt, d.txt to be
// removed by the restart.
std::unique_ptr<EmulatedMachine> prepared(const QString& folder)
{
    QString error;
    std::unique_ptr<EmulatedMachine> m = EmulatedMachine::create(QStringLiteral("winxp-sp2"), folder, &error);
    if (!m) {
        qWarning("%s", qPrintable(error));
        return m;
    }
    m->setSystemAccess(true);
    if (setValue(*m, oldValue) != ERROR_SUCCESS || writeFile(*m, "C:\\a.txt", oldFile) != ERROR_SUCCESS
        || writeFile(*m, "C:\\b.txt", "moved") != ERROR_SUCCESS || writeFile(*m, "C:\\d.txt", "removed") != ERROR_SUCCESS)
        m.reset();
    return m;
}

// The machine in folder opened again, as the next process opens it: sound, and once the run
// is rolled back (here, or before when doneBefore may be so) as it was before the run, with
// nothing left over in its journal folder.
void checkReopened(const QString& folder, qint64 run, const State& before, bool doneBefore)
{
    QString error;
    std::unique_ptr<EmulatedMachine> m = EmulatedMachine::openExisting(folder, &error);
    QVERIFY2(m, qPrintable(error));
    QCOMPARE(m->integrityCheck(), QStringLiteral("ok"));
    m->setSystemAccess(true);
    MachineJournal journal(*m);
    const bool undone = journal.rollback(run, nullptr, &error);
    QVERIFY2(undone || (doneBefore && error.contains(QLatin1String("rolled back already"))), qPrintable(error));
    QCOMPARE(stateOf(*m), before);
    QCOMPARE(strays(folder).join(QLatin1Char(' ')), QString());
    QCOMPARE(m->integrityCheck(), QStringLiteral("ok"));
}

} // namespace

class TestFullDisk : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        registerFaultyVfs();
    }
    // A row that failed in a run leaves no run behind for the next.
    void init() { qunsetenv(MachineJournal::runVariable); }
    void fullDisk_data();
    void fullDisk();
    void copyAction();
    void failingWrites_data();
    void failingWrites();

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

void TestFullDisk::fullDisk_data()
{
    QTest::addColumn<qint64>("free"); // bytes left when the run starts
    for (const qint64 free : {0, 4096, 16384, 40960, 65536, 131072, 196608, 262144, 393216, 524288, 1048576})
        QTest::addRow("%lld bytes free", free) << free;
}

// One run on a nearly full disk: each call either does its work or reports the failure and
// leaves the old state; then, with space again, the machine opens sound and the run is undone.
void TestFullDisk::fullDisk()
{
    QFETCH(qint64, free);
    const QString mountPoint = m_dir.filePath(QStringLiteral("disk%1").arg(++m_count));
    const Tmpfs disk(mountPoint);
    if (!disk.why().isEmpty())
        QSKIP(qPrintable(disk.why()));
    const QString folder = mountPoint + QStringLiteral("/machine");
    const QString filler = mountPoint + QStringLiteral("/filler");
    std::unique_ptr<EmulatedMachine> m = prepared(folder);
    QVERIFY(m);
    const State before = stateOf(*m);
    MachineJournal journal(*m);
    QString error;
    const qint64 run = journal.beginRun(QStringLiteral("full disk"), &error);
    QVERIFY2(run > 0, qPrintable(error));
    QVERIFY(fill(filler, free));

    // Each call is noted with its code; one that fails must give one of the failures named
    // (none named: any code will do).
    QStringList outcomes;
    QStringList wrong;
    const auto worked = [&](const char* what, std::uint32_t code, std::initializer_list<std::uint32_t> failures = {}) {
        outcomes << QStringLiteral("%1 %2").arg(QLatin1String(what), code ? QString::number(code) : QStringLiteral("ok"));
        if (code != ERROR_SUCCESS && failures.size() && std::find(failures.begin(), failures.end(), code) == failures.end())
            wrong << outcomes.last();
        return code == ERROR_SUCCESS;
    };
    State expected = before;
    if (worked("value", setValue(*m, newValue), {ERROR_REGISTRY_IO_FAILED}))
        expected.value = newValue;
    if (worked("write", writeFile(*m, "C:\\a.txt", newFile), {ERROR_HANDLE_DISK_FULL, ERROR_DISK_FULL}))
        expected.a = newFile;
    const std::string c = "C:\\c.txt";
    if (worked("move", m->files().moveFileEx("C:\\b.txt", &c, 0), {ERROR_DISK_FULL}))
        std::swap(expected.b, expected.c);
    expected.service = worked("service", createService(*m));
    QVERIFY2(wrong.isEmpty(), qPrintable(outcomes.join(", ")));
    QCOMPARE(stateOf(*m), expected);

    // The restart's removal, in the run: a restart that fails leaves the file.
    QList<EmulatedMachine::BootEntry> done;
    if (worked("pending removal", m->files().moveFileEx("C:\\d.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        && worked("restart", !m->reboot(&done, &error)))
        expected.d = "absent";
    worked("end of run", !journal.endRun(run, QStringLiteral("failed"), &error));
    QCOMPARE(stateOf(*m), expected);

    // A rollback on the full disk does all of it or reports that it did not.
    const bool rolledBackFull = worked("rollback on the full disk", !journal.rollback(run, nullptr, &error));
    if (rolledBackFull)
        QCOMPARE(stateOf(*m), before);
    QVERIFY(QFile::remove(filler));
    m.reset();
    checkReopened(folder, run, before, rolledBackFull);
    qInfo("%s", qPrintable(outcomes.join(QLatin1String(", "))));
}

// The copy action on the process's machine, the disk filled to several levels: a file is
// copied, or the copy reports that the destination cannot be written and leaves the old
// destination and nothing beside it.
void TestFullDisk::copyAction()
{
    const QString mountPoint = m_dir.filePath(QStringLiteral("copydisk"));
    const Tmpfs disk(mountPoint);
    if (!disk.why().isEmpty())
        QSKIP(qPrintable(disk.why()));
    const QString folder = mountPoint + QStringLiteral("/machine");
    std::string error;
    QVERIFY2(winsteps::platform::emulated::openMachine("winxp-sp2", folder.toStdString(), &error), error.c_str());
    const QString driveC = folder + QStringLiteral("/drive_c");
    const QByteArray source(300 * 1024, 's'), old(64 * 1024, 'o');
    QFile sourceFile(driveC + QStringLiteral("/src.bin"));
    QVERIFY(sourceFile.open(QIODevice::WriteOnly) && sourceFile.write(source) == source.size());
    sourceFile.close();
    CActionCopyFiles action(nullptr, "copy");
    QStringList outcomes;
    for (const qint64 free : {0, 4096, 65536, 196608, 262144, 1048576}) {
        QFile destination(driveC + QStringLiteral("/dst.bin"));
        QVERIFY(destination.open(QIODevice::WriteOnly) && destination.write(old) == old.size());
        destination.close();
        const QStringList entries = QDir(driveC).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        QVERIFY(fill(mountPoint + QStringLiteral("/filler"), free));
        const int code = action.copyFile(QStringLiteral("C:\\src.bin"), QStringLiteral("C:\\dst.bin"));
        outcomes << QStringLiteral("%1 bytes free: %2").arg(free).arg(code);
        QVERIFY2(code == CActionCopyFiles::Copied || code == CActionCopyFiles::AccessDenied, qPrintable(outcomes.last()));
        QVERIFY(destination.open(QIODevice::ReadOnly));
        QCOMPARE(destination.readAll(), code == CActionCopyFiles::Copied ? source : old);
        destination.close();
        QCOMPARE(QDir(driveC).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), entries);
        QVERIFY(QFile::remove(mountPoint + QStringLiteral("/filler")));
    }
    // The machine stays open for the process: the file system is detached when unmounted.
    QVERIFY(winsteps::platform::emulated::openMachine("winxp-sp2", "", &error));
    qInfo("copy action: %s", qPrintable(outcomes.join(QLatin1String(", "))));
}

// An operation on the machine: Worked, Failed as it should (the expected state unchanged), or
// failed with the wrong answer.
enum Outcome { Worked, Failed, WrongAnswer };
using Operation = std::function<Outcome(EmulatedMachine&, MachineJournal&, qint64 run, State* expected)>;

void TestFullDisk::failingWrites_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("persistent");
    QTest::addColumn<bool>("undoes"); // the operation comes after the run, else in it
    const auto outcome = [](std::uint32_t code, std::uint32_t failure) {
        return code == ERROR_SUCCESS ? Worked : code == failure ? Failed : WrongAnswer;
    };
    const Operation registry = [outcome](EmulatedMachine& m, MachineJournal&, qint64, State* expected) {
        const std::uint32_t code = setValue(m, newValue);
        if (code == ERROR_SUCCESS)
            expected->value = newValue;
        return outcome(code, ERROR_REGISTRY_IO_FAILED);
    };
    const Operation file = [](EmulatedMachine& m, MachineJournal&, qint64, State* expected) {
        const std::uint32_t code = writeFile(m, "C:\\a.txt", newFile);
        if (code == ERROR_SUCCESS)
            expected->a = newFile;
        return code == ERROR_SUCCESS ? Worked : Failed;
    };
    const Operation service = [outcome](EmulatedMachine& m, MachineJournal&, qint64, State* expected) {
        const std::uint32_t code = createService(m);
        expected->service = code == ERROR_SUCCESS;
        return outcome(code, ERROR_NOT_ENOUGH_MEMORY);
    };
    const Operation restart = [](EmulatedMachine& m, MachineJournal&, qint64, State* expected) {
        QList<EmulatedMachine::BootEntry> done;
        QString error;
        // Asked for once; a restart that failed leaves it pending.
        if (m.pendingFileOperations().isEmpty()
            && m.files().moveFileEx("C:\\d.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != ERROR_SUCCESS)
            return Failed;
        if (!m.reboot(&done, &error))
            return m.pendingFileOperations().size() == 1 ? Failed : WrongAnswer;
        expected->d = "absent";
        return Worked;
    };
    const Operation rollback = [](EmulatedMachine&, MachineJournal& journal, qint64 run, State* expected) {
        QString error;
        if (!journal.rollback(run, nullptr, &error))
            return error.startsWith(QLatin1String("cannot undo")) ? WrongAnswer : Failed; // no conflict here
        *expected = {oldValue, oldFile, "moved", "absent", "removed", false};
        return Worked;
    };
    const QList<std::pair<const char*, Operation>> operations{
        {"registry value", registry}, {"file write", file}, {"service install", service},
        {"restart's removal", restart}, {"rollback", rollback}};
    for (const auto& [name, operation] : operations) {
        const bool undoes = std::strcmp(name, "rollback") == 0;
        QTest::addRow("%s, one I/O error", name) << operation << SQLITE_IOERR_WRITE << false << undoes;
        QTest::addRow("%s, disk full from then on", name) << operation << SQLITE_FULL << true << undoes;
    }
}

// The Nth write or sync of the database fails, for N from 1 until the operation gets through:
// each failure leaves the old state (a rollback cut short is run again) and a sound file.
void TestFullDisk::failingWrites()
{
    QFETCH(Operation, operation);
    QFETCH(int, code);
    QFETCH(bool, persistent);
    QFETCH(bool, undoes);
    const QString folder = m_dir.filePath(QStringLiteral("vfs%1").arg(++m_count));
    std::unique_ptr<EmulatedMachine> m = prepared(folder);
    QVERIFY(m);
    const State before = stateOf(*m);
    MachineJournal journal(*m);
    QString error;
    const qint64 run = journal.beginRun(QStringLiteral("failing writes"), &error);
    QVERIFY(setValue(*m, "in the run") == ERROR_SUCCESS);
    QVERIFY(writeFile(*m, "C:\\a.txt", "in the run") == ERROR_SUCCESS);
    if (undoes) {
        QVERIFY(createService(*m) == ERROR_SUCCESS);
        QVERIFY(journal.endRun(run, QStringLiteral("failed"), &error));
    }
    const State afterRun = stateOf(*m);
    QVERIFY(!(afterRun == before));

    int n = 1;
    for (;; ++n) {
        QVERIFY2(n < 500, "the operation never got through");
        State expected = afterRun;
        faults = {n, persistent, code, 0};
        const Outcome outcome = operation(*m, journal, run, &expected);
        const bool worked = outcome == Worked;
        const int fired = faults.fired;
        faults = {};
        QVERIFY2(outcome != WrongAnswer, qPrintable(QStringLiteral("N = %1: the wrong answer").arg(n)));
        QVERIFY2(worked || fired, qPrintable(QStringLiteral("N = %1: failed without a failing write").arg(n)));
        const State now = stateOf(*m);
        if (!(now == expected)) {
            // A rollback undoes files before its store transaction fails: those are undone
            // by content when it is run again; the registry must be as the run left it.
            QVERIFY2(undoes && !worked && now.value == afterRun.value && now.service == afterRun.service,
                     qPrintable(QStringLiteral("N = %1: not the old or the new state").arg(n)));
        }
        QCOMPARE(m->integrityCheck(), QStringLiteral("ok"));
        if (worked)
            break;
    }
    if (!undoes)
        QVERIFY(journal.endRun(run, QStringLiteral("failed"), &error));
    m.reset();
    checkReopened(folder, run, before, true);
    qInfo("N = 1 .. %d", n);
}

QTEST_GUILESS_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
