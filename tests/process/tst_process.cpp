// Processes on the emulated machine: CProcess, the process list, emulated tools, credentials,
// and what a child gets (its arguments as they are, no descriptors) and leaves (no zombies).

#include "actions/cenumprocess.h"
#include "actions/cprocess.h"
#include "debug/debugoutput.h"
#include "platform/emulated/emulatedprocess.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace platform = winsteps::platform;

namespace {

// An emulated program (the exit tool) whose name no other test process uses.
QString twin()
{
    return QStringLiteral("twin%1.exe").arg(QCoreApplication::applicationPid());
}

// A machine of a profile that inherits base and adds json's keys; a fresh folder each time.
void openMachine(const QTemporaryDir& dir, const QString& base, const QString& keys = QString())
{
    static int count = 0;
    const QString file = dir.filePath(QStringLiteral("profile%1.json").arg(++count));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QStringLiteral(R"({"inherits": "%1", "computerName": "TESTBOX",
        "tools": {"quick.exe": "exit", "%3": "exit", "LongTask.EXE": "exit"}%2})")
                  .arg(base, keys.isEmpty() ? QString() : QLatin1String(", ") + keys, twin())
                  .toUtf8());
    out.close();
    std::string error;
    QVERIFY2(platform::openMachine(file.toStdString(), dir.filePath(QStringLiteral("m%1").arg(count)).toStdString(), &error),
             error.c_str());
}

// Starts program and waits for processExited().
bool runToEnd(CProcess& process, const QString& program, const QStringList& arguments,
              const QStringList& environment = QStringList())
{
    QSignalSpy exited(&process, &CProcess::processExited);
    process.setArguments(arguments);
    if (!process.start(program, environment))
        return false;
    return exited.wait(10000) || exited.count() == 1;
}

// Child processes of this process, ended but not reaped (zombies) or still running.
int childProcesses(bool zombiesOnly)
{
    int count = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == getpid() && (!zombiesOnly || fields[0] == "Z"))
            ++count;
    }
    return count;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

class TraceCapture : public winsteps::TraceSink
{
public:
    TraceCapture() { winsteps::setTraceSink(this); }
    ~TraceCapture() override { winsteps::setTraceSink(nullptr); }
    void write(const std::string& piece) override { text += piece; }
    std::string text;
};

} // namespace

class TstProcess : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void exitCodes_data();
    void exitCodes();
    void killAndClose_data();
    void killAndClose();
    void startFromAWorkerThread();
    void argumentsReachTheProgramAsTheyAre();
    void environmentBlock_data();
    void environmentBlock();
    void environmentReachesTheProgram();
    void startAsAdmin_data();
    void startAsAdmin();
    void noPasswordInTraces();
    void secretBufferIsWiped();
    void parseUserName_data();
    void parseUserName();
    void findProcess();
    void otherProcesses();
    void toolsActOnTheSameMachine();
    void noZombiesNoDescriptors();

private:
    QTemporaryDir m_dir;
};

void TstProcess::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv(platform::emulated::toolHostVariable, WINSTEPS_EXE);
}

void TstProcess::init()
{
    openMachine(m_dir, QStringLiteral("winxp-sp2"));
}

void TstProcess::exitCodes_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<quint32>("code");

    QTest::newRow("exit 0") << "/bin/sh" << QStringList{"-c", "exit 0"} << true << 0u;
    QTest::newRow("exit 7") << "/bin/sh" << QStringList{"-c", "exit 7"} << true << 7u;
    QTest::newRow("bare name found in PATH") << "true" << QStringList() << true << 0u;
    // An emulated tool's code keeps all 32 bits, beyond what an exit status holds.
    QTest::newRow("tool, 3010") << "quick.exe" << QStringList{"3010"} << true << 3010u;
    QTest::newRow("tool, 0xC0000005") << "C:\\Setup\\QUICK.EXE" << QStringList{"0xC0000005"} << true << 0xC0000005u;
    QTest::newRow("ping, own host") << "C:\\WINDOWS\\system32\\ping.exe" << QStringList{"-n", "1", "127.0.0.1"} << true << 0u;
    QTest::newRow("ping, unknown host") << "ping.exe" << QStringList{"no.such.host"} << true << 1u;
    QTest::newRow("missing program") << "/no/such/program" << QStringList() << false << 0u;
}

void TstProcess::exitCodes()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, starts);
    QFETCH(quint32, code);

    CProcess process;
    QCOMPARE(runToEnd(process, program, arguments), starts);
    QCOMPARE(process.isRunning(), false);
    QCOMPARE(process.exitStatus(), code);
    QCOMPARE(process.normalExit(), starts);
    QCOMPARE(process.processIdentifier(), 0u);
}

void TstProcess::killAndClose_data()
{
    QTest::addColumn<bool>("kill");
    QTest::addColumn<quint32>("code");
    QTest::addColumn<bool>("normal");

    QTest::newRow("kill") << true << CProcess::killExitCode << false;
    QTest::newRow("close request") << false << 0u << true;
}

void TstProcess::killAndClose()
{
    QFETCH(bool, kill);
    QFETCH(quint32, code);
    QFETCH(bool, normal);

    CProcess process;
    QSignalSpy exited(&process, &CProcess::processExited);
    process.setArguments({QStringLiteral("5"), QStringLiteral("30")});
    QVERIFY(process.start(QStringLiteral("longtask.exe")));
    QVERIFY(process.isRunning());
    QVERIFY(process.processIdentifier() != 0);
    if (kill)
        process.kill();
    else
        process.tryTerminate();
    QTRY_COMPARE_WITH_TIMEOUT(exited.count(), 1, 5000);
    QCOMPARE(process.exitStatus(), code);
    QCOMPARE(process.normalExit(), normal);
}

void TstProcess::startFromAWorkerThread()
{
    // Threaded actions start their programs on a worker; the poll must still run, and
    // report, on the thread the process object belongs to.
    CProcess process;
    QSignalSpy exited(&process, &CProcess::processExited);
    QThread* reportedOn = nullptr;
    connect(&process, &CProcess::processExited, &process, [&reportedOn] { reportedOn = QThread::currentThread(); });
    bool started = false;
    std::unique_ptr<QThread> worker(QThread::create([&] { started = process.start(QStringLiteral("true")); }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QVERIFY(started);
    QTRY_COMPARE_WITH_TIMEOUT(exited.count(), 1, 10000);
    QCOMPARE(reportedOn, process.thread());
    QCOMPARE(process.exitStatus(), 0u);
    QVERIFY(!process.isRunning());
}

void TstProcess::argumentsReachTheProgramAsTheyAre()
{
    const QString out = m_dir.filePath(QStringLiteral("arguments.txt"));
    const QStringList arguments{QStringLiteral("/s"), QStringLiteral("C:\\Program Files\\Demo Suite\\setup.ini"),
                                QStringLiteral("say \"hi\""), QString(), QStringLiteral("*"), QStringLiteral("$HOME;x")};
    CProcess process;
    QVERIFY(runToEnd(process, QStringLiteral("/bin/sh"),
                     QStringList{QStringLiteral("-c"), QStringLiteral("printf '[%s]\\n' \"$@\" > \"$0\""), out} + arguments));
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList expected;
    for (const QString& argument : arguments)
        expected << QLatin1Char('[') + argument + QLatin1Char(']');
    QCOMPARE(QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
}

void TstProcess::environmentBlock_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<bool>("pathAdded");

    QTest::newRow("no PATH entry") << QStringList{"A=1"} << true;
    QTest::newRow("own PATH entry") << QStringList{"A=1", "PATH=/x"} << false;
    QTest::newRow("XPATH is not PATH") << QStringList{"XPATH=1"} << true;
}

void TstProcess::environmentBlock()
{
    QFETCH(QStringList, list);
    QFETCH(bool, pathAdded);
    const QStringList block = CProcess::environmentBlock(list);
    if (pathAdded)
        QCOMPARE(block, QStringList(QLatin1String("PATH=") + qEnvironmentVariable("PATH")) + list);
    else
        QCOMPARE(block, list);
}

void TstProcess::environmentReachesTheProgram()
{
    const QString out = m_dir.filePath(QStringLiteral("environment.txt"));
    CProcess process;
    QVERIFY(runToEnd(process, QStringLiteral("/bin/sh"),
                     {QStringLiteral("-c"), QStringLiteral("echo \"$GREETING|$HOME\" > \"$0\""), out},
                     {QStringLiteral("GREETING=hello there")}));
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("hello there|\n")); // the list is the whole environment
}

void TstProcess::startAsAdmin_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<bool>("launched");

    const QString user = QStringLiteral(R"("administrator": false)");
    const QString credentials = QStringLiteral(R"("credentials": {"user": "TESTBOX\\Admin", "password": "s3cret"})");
    QTest::newRow("administrator: no prompt needed") << "winxp-sp2" << QString() << true;
    QTest::newRow("XP user, credentials typed in") << "winxp-sp2" << user + ", " + credentials << true;
    QTest::newRow("XP user, prompt cancelled") << "winxp-sp2" << user << false;
    QTest::newRow("XP user, name without domain")
        << "winxp-sp2" << user + R"(, "credentials": {"user": "Admin", "password": "x"})" << false;
    QTest::newRow("Vista user: no prompt") << "vista" << user + ", " + credentials << false;
    QTest::newRow("2000 user: no prompt") << "win2000" << user + ", " + credentials << false;
    QTest::newRow("98: no log-on") << "win98" << user << true;
}

void TstProcess::startAsAdmin()
{
    QFETCH(QString, profile);
    QFETCH(QString, keys);
    QFETCH(bool, launched);

    openMachine(m_dir, profile, keys);
    CProcess process;
    QSignalSpy exited(&process, &CProcess::processExited);
    QCOMPARE(process.startAsAdmin(QStringLiteral("true")), launched);
    if (launched)
        QTRY_COMPARE(exited.count(), 1);
}

void TstProcess::noPasswordInTraces()
{
    openMachine(m_dir, QStringLiteral("winxp-sp2"),
                QStringLiteral(R"("administrator": false, "credentials": {"user": "TESTBOX\\Admin", "password": "UniquePassword42"})"));
    TraceCapture capture;
    CProcess process;
    QSignalSpy exited(&process, &CProcess::processExited);
    QVERIFY(process.startAsAdmin(QStringLiteral("/no/such/program")) == false);
    QVERIFY(process.startAsAdmin(QStringLiteral("true")));
    QTRY_COMPARE(exited.count(), 1);
    QVERIFY(capture.text.find("UniquePassword42") == std::string::npos);
}

void TstProcess::secretBufferIsWiped()
{
    platform::PasswordBuffer buffer;
    QVERIFY(buffer.assign("secret"));
    QCOMPARE(buffer.size(), std::size_t(6));
    buffer.wipe();
    for (std::size_t i = 0; i < platform::PasswordBuffer::capacity; ++i)
        QCOMPARE(buffer.c_str()[i], '\0');
    // Too long for the buffer: nothing is kept.
    const std::string tooLong(platform::PasswordBuffer::capacity, 'x');
    QVERIFY(!buffer.assign(tooLong.c_str()));
    QVERIFY(buffer.empty());
}

void TstProcess::parseUserName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("domain");

    QTest::newRow("domain and user") << "TESTBOX\\Admin" << true << "Admin" << "TESTBOX";
    QTest::newRow("principal name") << "admin@example.org" << true << "admin@example.org" << "";
    QTest::newRow("bare name") << "Admin" << false << "" << "";
    QTest::newRow("no domain") << "\\Admin" << false << "" << "";
    QTest::newRow("two separators") << "A\\B\\C" << false << "" << "";
}

void TstProcess::parseUserName()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(QString, user);
    QFETCH(QString, domain);

    platform::UserNameBuffer userPart;
    platform::DomainBuffer domainPart;
    const std::uint32_t result = platform::processes().parseUserName(name.toUtf8().constData(), &userPart, &domainPart);
    QCOMPARE(result, valid ? platform::ERROR_SUCCESS : platform::ERROR_INVALID_ACCOUNT_NAME);
    QCOMPARE(QString::fromUtf8(userPart.c_str()), user);
    QCOMPARE(QString::fromUtf8(domainPart.c_str()), domain);
}

void TstProcess::findProcess()
{
    QCOMPARE(CProcess::findProcess(twin()), 0u);
    CProcess first, second;
    first.setArguments({QStringLiteral("0"), QStringLiteral("30")});
    second.setArguments({QStringLiteral("0"), QStringLiteral("30")});
    QVERIFY(first.start(twin()));
    QVERIFY(second.start(QString(QStringLiteral("C:\\Tools\\") + twin())));
    // Listed in the order of process identifiers; names compare without regard to case.
    const quint32 expected = qMin(first.processIdentifier(), second.processIdentifier());
    QCOMPARE(CProcess::findProcess(twin().toUpper()), expected);

    CEnumProcess list;
    CEnumProcess::Entry entry;
    QVERIFY(list.first(&entry));
    quint32 previous = 0;
    do {
        QVERIFY(entry.processId > previous);
        previous = entry.processId;
    } while (list.next(&entry));

    // A handle without the terminate right cannot end the process; one with it can.
    platform::ProcessHandlePtr waitOnly = CProcess::openProcess(twin(), false);
    QVERIFY(waitOnly);
    QCOMPARE(waitOnly->terminate(0), platform::ERROR_ACCESS_DENIED);
    platform::ProcessHandlePtr handle = CProcess::openProcess(twin(), true);
    QVERIFY(handle);
    QCOMPARE(handle->terminate(9), platform::ERROR_SUCCESS);
    QCOMPARE(waitOnly->wait(5000), platform::WAIT_OBJECT_0);
    std::uint32_t code = 0;
    QCOMPARE(waitOnly->getExitCode(&code), platform::ERROR_SUCCESS);
    QCOMPARE(code, 9u);
    second.kill();
    QTRY_VERIFY(!first.isRunning() && !second.isRunning());
}

void TstProcess::otherProcesses()
{
    // A process this machine did not start: found, waited for and ended, its code unknown.
    const QString program = m_dir.filePath(QStringLiteral("othersleep"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
    QProcess other;
    other.start(program, {QStringLiteral("30")});
    QVERIFY(other.waitForStarted());
    QTRY_VERIFY(CProcess::findProcess(QStringLiteral("othersleep")) == quint32(other.processId()));
    platform::ProcessHandlePtr handle = CProcess::openProcess(QStringLiteral("othersleep"), true);
    QVERIFY(handle);
    QCOMPARE(handle->wait(0), platform::WAIT_TIMEOUT);
    QCOMPARE(handle->terminate(0), platform::ERROR_SUCCESS);
    QCOMPARE(handle->wait(5000), platform::WAIT_OBJECT_0);
    std::uint32_t code = 0;
    QCOMPARE(handle->getExitCode(&code), platform::ERROR_ACCESS_DENIED);
    QVERIFY(other.waitForFinished());
}

void TstProcess::toolsActOnTheSameMachine()
{
    // The emulated ping answers for the computer name of the machine it runs on: the
    // profile's own ("TESTBOX"), not the built-in one it inherits from.
    CProcess process;
    QVERIFY(runToEnd(process, QStringLiteral("ping.exe"), {QStringLiteral("-n"), QStringLiteral("1"), QStringLiteral("testbox")}));
    QCOMPARE(process.exitStatus(), 0u);
    // Its output is in the machine's console log, not in ours.
    QFile console(QString::fromStdString(platform::currentMachineFolder()) + QStringLiteral("/console.log"));
    QVERIFY(console.open(QIODevice::ReadOnly));
    QVERIFY(console.readAll().contains("Reply from 127.0.0.1"));

    // Without the winsteps executable there is nothing to run the tool with.
    const QByteArray host = qgetenv(platform::emulated::toolHostVariable);
    qunsetenv(platform::emulated::toolHostVariable);
    QVERIFY(!process.start(QStringLiteral("ping.exe")));
    qputenv(platform::emulated::toolHostVariable, host);
}

void TstProcess::noZombiesNoDescriptors()
{
    // Warm up: the first child starts the process-wide reaper.
    CProcess warmUp;
    QVERIFY(runToEnd(warmUp, QStringLiteral("true"), {}));
    const int descriptors = openDescriptors();

    // A descriptor without close-on-exec must not reach the child either.
    const int stray = ::open("/dev/null", O_RDONLY);
    QVERIFY(stray > 2);
    CProcess check;
    QVERIFY(runToEnd(check, QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("[ ! -e /proc/$$/fd/%1 ]").arg(stray)}));
    QCOMPARE(check.exitStatus(), 0u);
    ::close(stray);

    for (int i = 0; i < 20; ++i) {
        CProcess process;
        process.setArguments({QStringLiteral("%1").arg(i)});
        QVERIFY(process.start(i % 2 ? QStringLiteral("quick.exe") : QStringLiteral("true")));
        // Half of them are let go while they still run: nobody waits for those.
    }
    QVERIFY(childProcesses(false) > 0);
    // Every child is reaped as it ends: none is left, as a zombie or otherwise.
    QTRY_COMPARE_WITH_TIMEOUT(childProcesses(false), 0, 10000);
    QCOMPARE(childProcesses(true), 0);
    QTRY_COMPARE(openDescriptors(), descriptors);
}

QTEST_GUILESS_MAIN(TstProcess)
#include "tst_process.moc"
