// Processes on the emulated machine: CProcess, command lines, the machine's own process list,
// emulated tools, credentials, and what a child gets (no descriptors) and leaves (no zombies).

#include "actions/cenumprocess.h"
#include "actions/cprocess.h"
#include "debug/debugoutput.h"
#include "platform/emulated/emulatedprocess.h"
#include "platform/emulated/processrecords.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "support/commandrun.h"
#include "support/files.h"
#include "support/freshmachine.h"
#include "support/hostprocess.h"
#include "support/tracecapture.h"

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

// A machine of a profile that inherits base and adds keys; a fresh folder each time.
QString openMachine(const QTemporaryDir& dir, const QString& base, const QString& keys = QString())
{
    return testsupport::openFreshMachine(dir, QStringLiteral(R"({"inherits": "%1", "computerName": "TESTBOX",
        "tools": {"quick.exe": "exit", "%3": "exit", "LongTask.EXE": "exit"}%2})")
        .arg(base, keys.isEmpty() ? QString() : QLatin1String(", ") + keys, twin()));
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
int childProcesses()
{
    int count = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == getpid())
            ++count;
    }
    return count;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

QStringList listedNames()
{
    QStringList names;
    CEnumProcess list;
    for (const CEnumProcess::Entry& entry : list.entries())
        names << entry.fileName;
    return names;
}

} // namespace

class TstProcess : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_machine;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv(platform::emulated::toolHostVariable, WINSTEPS_EXE);
    }

    void init() { m_machine = openMachine(m_dir, QStringLiteral("winxp-sp2")); }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("ending"); // "kill", "close", "" (by itself) or "no tool host" (not started)
        QTest::addColumn<bool>("starts");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<QString>("console"); // what a tool wrote to the machine's console log

        QTest::newRow("exit 7, quoted argument") << "/bin/sh" << QStringList{"-c", "\"exit 7\""} << "" << true << 7u << "";
        QTest::newRow("bare name found in PATH") << "true" << QStringList() << "" << true << 0u << "";
        // An emulated tool's code keeps all 32 bits, beyond what an exit status holds.
        QTest::newRow("tool, 0xC0000005") << "C:\\Setup\\QUICK.EXE" << QStringList{"0xC0000005"} << "" << true << 0xC0000005u << "";
        // The emulated ping answers for the machine it runs on: the profile's own name.
        QTest::newRow("ping, own name") << "C:\\WINDOWS\\system32\\ping.exe" << QStringList{"-n 1", "testbox"} << "" << true
                                        << 0u << "Reply from 127.0.0.1";
        QTest::newRow("ping, unknown host") << "ping.exe" << QStringList{"no.such.host"} << "" << true << 1u
                                            << "could not find host no.such.host";
        QTest::newRow("tool without the winsteps executable") << "ping.exe" << QStringList{"localhost"} << "no tool host"
                                                              << false << 0u << "";
        QTest::newRow("missing program") << "/no/such/program" << QStringList() << "" << false << 0u << "";
        QTest::newRow("kill") << "longtask.exe" << QStringList{"5", "30"} << "kill" << true << CProcess::killExitCode << "";
        QTest::newRow("close request") << "longtask.exe" << QStringList{"5", "30"} << "close" << true << 0u << "";
    }

    void exitCodes()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, ending);
        QFETCH(bool, starts);
        QFETCH(quint32, code);
        QFETCH(QString, console);

        CProcess process;
        QSignalSpy exited(&process, &CProcess::processExited);
        process.setArguments(arguments);
        const QByteArray host = qgetenv(platform::emulated::toolHostVariable);
        if (ending == QLatin1String("no tool host"))
            qunsetenv(platform::emulated::toolHostVariable);
        QCOMPARE(process.start(program), starts);
        qputenv(platform::emulated::toolHostVariable, host);
        if (ending == QLatin1String("kill"))
            process.kill();
        else if (ending == QLatin1String("close"))
            process.tryTerminate();
        if (starts)
            QTRY_COMPARE_WITH_TIMEOUT(exited.count(), 1, 10000);
        QCOMPARE(process.isRunning(), false);
        QCOMPARE(process.exitStatus(), code);
        QCOMPARE(process.normalExit(), starts && ending != QLatin1String("kill"));
        QCOMPARE(process.processIdentifier(), 0u);
        // A tool's output is in the machine's console log, not in ours.
        QVERIFY(testsupport::readFile(m_machine + QStringLiteral("/console.log")).contains(console.toUtf8()));
    }

    void startFromAWorkerThread()
    {
        // Threaded actions start their programs on a worker; the poll must still run, and
        // report, on the thread the process object belongs to. The handle taken in the launch
        // outlives the poll's own, however soon the program ends.
        CProcess process;
        QSignalSpy exited(&process, &CProcess::processExited);
        QThread* reportedOn = nullptr;
        connect(&process, &CProcess::processExited, &process, [&reportedOn] { reportedOn = QThread::currentThread(); });
        bool started = false;
        platform::ProcessHandlePtr handle;
        process.setArguments({QStringLiteral("12")});
        std::unique_ptr<QThread> worker(
            QThread::create([&] { started = process.start(QStringLiteral("quick.exe"), QStringList(), &handle); }));
        worker->start();
        QVERIFY(worker->wait(10000));
        QVERIFY(started && handle);
        QTRY_COMPARE_WITH_TIMEOUT(exited.count(), 1, 10000);
        QCOMPARE(reportedOn, process.thread());
        QCOMPARE(process.exitStatus(), 12u);
        QVERIFY(!process.isRunning());
        std::uint32_t code = 0;
        QCOMPARE(handle->wait(0), platform::WAIT_OBJECT_0);
        QCOMPARE(handle->getExitCode(&code), platform::ERROR_SUCCESS);
        QCOMPARE(code, 12u);
    }

    // Defined below the class: moc misreads raw strings with backslashes before quotes.
    void commandLines_data();
    void commandLines()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, argv);
        // A program whose path has blanks, given arguments as a wizard writes them.
        const QString program = QStringLiteral(R"(C:\Program Files\Demo Suite\show args.exe)");

        // The program gets them so, and only the environment it is given.
        const QString script = m_machine + QStringLiteral("/drive_c/Program Files/Demo Suite/show args.exe");
        QVERIFY(testsupport::writeFile(script, "#!/bin/sh\nprintf '%s|%s\\n' \"$GREETING\" \"$HOME\" > \"$OUT\"\n"
                                               "printf '[%s]\\n' \"$@\" >> \"$OUT\"\n"));
        QVERIFY(QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        const QString out = m_dir.filePath(QStringLiteral("arguments.txt"));
        CProcess process;
        QVERIFY(runToEnd(process, program, arguments, {QStringLiteral("GREETING=hello there"), QLatin1String("OUT=") + out}));
        QStringList expected{QStringLiteral("hello there|")};
        for (const QString& argument : std::as_const(argv))
            expected << QLatin1Char('[') + argument + QLatin1Char(']');
        QCOMPARE(QString::fromUtf8(testsupport::readFile(out)).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
    }

    void environmentBlock_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QStringList>("block");

        QTest::newRow("no PATH entry") << QStringList{"A=1"} << QStringList{"PATH=/opt/x:/bin", "A=1"};
        QTest::newRow("own PATH entry") << QStringList{"A=1", "PATH=/y"} << QStringList{"A=1", "PATH=/y"};
        QTest::newRow("XPATH is not PATH") << QStringList{"XPATH=1"} << QStringList{"PATH=/opt/x:/bin", "XPATH=1"};
    }

    void environmentBlock()
    {
        QFETCH(QStringList, list);
        QFETCH(QStringList, block);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/opt/x:/bin");
        const QStringList made = CProcess::environmentBlock(list);
        qputenv("PATH", path);
        QCOMPARE(made, block);
    }

    void startAsAdmin_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("launched");

        const QString user = QStringLiteral(R"("administrator": false, )");
        const QString account = QStringLiteral(R"("accounts": {"testbox\\admin": "UniquePassword42"}, )");
        const QString typed = QStringLiteral(R"("credentials": {"user": "TESTBOX\\Admin", "password": "UniquePassword42"})");
        QTest::newRow("administrator: no prompt needed") << "winxp-sp2" << QString() << true;
        QTest::newRow("XP user, credentials typed in") << "winxp-sp2" << user + account + typed << true;
        QTest::newRow("XP user, wrong password")
            << "winxp-sp2" << user + account + R"("credentials": {"user": "TESTBOX\\Admin", "password": "guess"})" << false;
        QTest::newRow("XP user, account unknown to the machine") << "winxp-sp2" << user + typed << false;
        QTest::newRow("XP user, built-in administrator, empty password")
            << "winxp-sp2" << user + R"("credentials": {"user": "TESTBOX\\Administrator", "password": ""})" << true;
        QTest::newRow("XP user, prompt cancelled") << "winxp-sp2" << user + account.chopped(2) << false;
        QTest::newRow("XP user, name without domain")
            << "winxp-sp2" << user + R"("credentials": {"user": "Admin", "password": "x"})" << false;
        QTest::newRow("Vista user: no prompt") << "vista" << user + account + typed << false;
        QTest::newRow("2000 user: no prompt") << "win2000" << user + account + typed << false;
        QTest::newRow("98: no log-on") << "win98" << user.chopped(2) << true;
    }

    void startAsAdmin()
    {
        QFETCH(QString, profile);
        QFETCH(QString, keys);
        QFETCH(bool, launched);

        openMachine(m_dir, profile, keys);
        TraceCapture capture;
        CProcess process;
        QSignalSpy exited(&process, &CProcess::processExited);
        QCOMPARE(process.startAsAdmin(QStringLiteral("true")), launched);
        if (launched)
            QTRY_COMPARE(exited.count(), 1);
        // A failed launch wipes the credentials too: the next one is asked for them anew.
        QVERIFY(!process.startAsAdmin(QStringLiteral("/no/such/program")));
        QVERIFY(capture.text.find("UniquePassword42") == std::string::npos);
    }

    void secrets()
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

        // A user name with an empty or a nested part is refused, and nothing of it kept.
        for (const char* name : {"\\Admin", "A\\B\\C"}) {
            platform::UserNameBuffer user;
            platform::DomainBuffer domain;
            QCOMPARE(platform::processes().parseUserName(name, &user, &domain), platform::ERROR_INVALID_ACCOUNT_NAME);
            QVERIFY2(user.empty() && domain.empty(), name);
        }
    }

    void systemProcesses_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QStringList>("names");

        QTest::newRow("XP") << "winxp-sp2" << QString()
                            << QStringList{"System", "smss.exe", "csrss.exe", "winlogon.exe", "services.exe",
                                           "lsass.exe", "svchost.exe", "explorer.exe"};
        QTest::newRow("98") << "win98" << QString()
                            << QStringList{"KERNEL32.DLL", "MSGSRV32.EXE", "MPREXE.EXE", "MSTASK.EXE", "EXPLORER.EXE"};
        QTest::newRow("declared by the profile") << "winxp-sp2" << R"("systemProcesses": ["System", "TrayTool.exe"])"
                                                 << QStringList{"System", "TrayTool.exe"};
    }

    void systemProcesses()
    {
        QFETCH(QString, profile);
        QFETCH(QString, keys);
        QFETCH(QStringList, names);

        openMachine(m_dir, profile, keys);
        QCOMPARE(listedNames(), names);
        // Found, waited for in vain, never ended.
        const QString name = names.last();
        TraceCapture capture;
        QVERIFY(!CProcess::openProcess(name, true));
        QVERIFY(capture.text.find("Unable to open process, GetLastError = 5\n") != std::string::npos);
        const platform::ProcessHandlePtr handle = CProcess::openProcess(name.toLower(), false);
        QVERIFY(handle);
        QCOMPARE(handle->wait(10), platform::WAIT_TIMEOUT);
        std::uint32_t code = 0;
        QCOMPARE(handle->getExitCode(&code), platform::ERROR_SUCCESS);
        QCOMPARE(code, platform::STILL_ACTIVE);
        QCOMPARE(platform::processes().postCloseToWindows(handle->processId()), platform::ERROR_ACCESS_DENIED);
    }

    void ownProcessesOnly()
    {
        // A process of the host with the very name a wizard uses is none of the machine's: not
        // listed, not opened, not closed, and still running at the end.
        const QString decoyPath = m_dir.filePath(twin());
        QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), decoyPath));
        HostProcess decoy(decoyPath, {QStringLiteral("30")});
        QVERIFY(decoy.started());
        const auto decoyId = std::uint32_t(decoy.pid());
        QCOMPARE(CProcess::findProcess(twin()), 0u);
        QVERIFY(!CProcess::openProcess(twin(), false));
        platform::ProcessHandlePtr handle;
        QCOMPARE(platform::processes().openProcess(platform::PROCESS_TERMINATE, decoyId, &handle), platform::ERROR_INVALID_PARAMETER);
        QCOMPARE(platform::processes().postCloseToWindows(decoyId), platform::ERROR_INVALID_PARAMETER);

        CProcess first, second;
        first.setArguments({QStringLiteral("0"), QStringLiteral("30")});
        second.setArguments({QStringLiteral("0"), QStringLiteral("30")});
        QVERIFY(first.start(twin()));
        QVERIFY(second.start(QString(QStringLiteral("C:\\Tools\\") + twin())));
        // Listed in the order they started, after the system's; names compare without regard to case.
        QCOMPARE(CProcess::findProcess(twin().toUpper()), first.processIdentifier());
        QCOMPARE(listedNames().mid(listedNames().size() - 2), (QStringList{twin(), twin()}));

        // Opened by name, the first one ends; the second is then the one found.
        handle = CProcess::openProcess(twin(), true);
        QVERIFY(handle);
        QCOMPARE(handle->terminate(9), platform::ERROR_SUCCESS);
        QCOMPARE(handle->wait(5000), platform::WAIT_OBJECT_0);
        QCOMPARE(CProcess::findProcess(twin()), second.processIdentifier());
        second.kill();
        QTRY_VERIFY(!first.isRunning() && !second.isRunning());
        QCOMPARE(CProcess::findProcess(twin()), 0u);
        QVERIFY(decoy.running());
    }

    void recordsOfOtherProcesses()
    {
        // Another winsteps process on the same machine leaves a program running there: this
        // process sees it, waits for it and ends it, but cannot know its exit code.
        int files = 0;
        const QString wizard = writeTestFile(m_dir, files, R"(<fsm name="leave" start="a"><state name="a" type="startApp">
            <property key="command" value="LongTask.exe"/><property key="argument1" value="0 30"/>
            <property key="timeout" value="0"/></state></fsm>)", QStringLiteral(".xml"));
        const CommandRun run = runWinsteps({QStringLiteral("run"), wizard, QStringLiteral("--machine"), m_machine});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));

        const quint32 pid = CProcess::findProcess(QStringLiteral("longtask.exe"));
        QVERIFY(pid != 0);
        platform::ProcessHandlePtr handle = CProcess::openProcess(QStringLiteral("LONGTASK.EXE"), true);
        QVERIFY(handle);
        QCOMPARE(handle->wait(0), platform::WAIT_TIMEOUT);
        QCOMPARE(handle->terminate(0), platform::ERROR_SUCCESS);
        QCOMPARE(handle->wait(5000), platform::WAIT_OBJECT_0);
        std::uint32_t code = 0;
        QCOMPARE(handle->getExitCode(&code), platform::ERROR_ACCESS_DENIED);
        QCOMPARE(CProcess::findProcess(QStringLiteral("longtask.exe")), 0u);

        // A record whose start time is not that of the process under its identifier (the
        // identifier was used again) stands for nothing, and goes.
        const std::string folder = m_machine.toStdString();
        QVERIFY(platform::emulated::recordProcess(folder, {std::uint32_t(getpid()), 1, "reused.exe"}));
        QCOMPARE(CProcess::findProcess(QStringLiteral("reused.exe")), 0u);
        QVERIFY(QDir(m_machine + QStringLiteral("/processes")).entryList(QDir::Files).isEmpty());
    }

    void noZombiesNoDescriptors()
    {
        // Warm up: the first child starts the process-wide reaper.
        CProcess warmUp;
        QVERIFY(runToEnd(warmUp, QStringLiteral("true"), {}));
        const int descriptors = openDescriptors();

        // A descriptor without close-on-exec must not reach the child either.
        const int stray = ::open("/dev/null", O_RDONLY);
        QVERIFY(stray > 2);
        CProcess check;
        QVERIFY(runToEnd(check, QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("\"[ ! -e /proc/$$/fd/%1 ]\"").arg(stray)}));
        QCOMPARE(check.exitStatus(), 0u);
        ::close(stray);

        for (int i = 0; i < 20; ++i) {
            CProcess process;
            process.setArguments({QStringLiteral("%1").arg(i)});
            QVERIFY(process.start(i % 2 ? QStringLiteral("quick.exe") : QStringLiteral("true")));
            // Half of them are let go while they still run: nobody waits for those.
        }
        QVERIFY(childProcesses() > 0);
        // Every child is reaped as it ends: none is left, as a zombie or otherwise, nor its record.
        QTRY_COMPARE_WITH_TIMEOUT(childProcesses(), 0, 10000);
        QTRY_COMPARE(openDescriptors(), descriptors);
        QVERIFY(QDir(m_machine + QStringLiteral("/processes")).entryList(QDir::Files).isEmpty());
    }
};

void TstProcess::commandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("argv"); // what the program gets after argv[0]

    QTest::newRow("pre-quoted path") << QStringList{"/i", R"("C:\Program Files\Demo Suite\setup.ini")"}
                                     << QStringList{"/i", R"(C:\Program Files\Demo Suite\setup.ini)"};
    QTest::newRow("/v /qn in one property") << QStringList{"/v /qn"} << QStringList{"/v", "/qn"};
    QTest::newRow("PROP=\"a b\"") << QStringList{R"(PROP="a b")", "X=1"} << QStringList{"PROP=a b", "X=1"};
    QTest::newRow("shell characters stay as they are") << QStringList{"$HOME;*", "'q'"} << QStringList{"$HOME;*", "'q'"};
}

QTEST_GUILESS_MAIN(TstProcess)
#include "tst_process.moc"
