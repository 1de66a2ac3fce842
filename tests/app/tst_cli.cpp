// The winsteps command line as a user meets it: help, errors and their colour, the profiles,
// and the bash completion script it generates.

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "support/commandrun.h"
#include "support/files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

class TstCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // The words the completion script offers for a command line whose last word is completed.
    QStringList complete(const QStringList& words)
    {
        QProcess bash;
        bash.start(QStringLiteral("bash"), QStringList{"-c", "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(( $# - 1 )); "
                                                              "_winsteps; printf '%s\\n' \"${COMPREPLY[@]}\"",
                                                        "bash", m_dir.filePath("completion.bash")} + words);
        bash.waitForFinished();
        return QString::fromUtf8(bash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Exit status and what the command says; texts on stdout when it succeeds, else on stderr
    // ("^" first: the stream starts with it).
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("bare") << QStringList() << 2 << QStringList{"^winsteps: no command given\n\nUsage: winsteps", "profiles"};
        QTest::newRow("bare machine") << QStringList{"machine"} << 2
                                      << QStringList{"^winsteps machine: no action given\n\nUsage: winsteps machine ACTION"};
        QTest::newRow("bare profile") << QStringList{"profile"} << 2 << QStringList{"^winsteps profile: no action given\n\nUsage:"};
        QTest::newRow("help machine init") << QStringList{"help", "machine", "init"} << 0
                                           << QStringList{"^Usage: winsteps machine init DIR", "--profile"};
        QTest::newRow("help machine") << QStringList{"help", "machine"} << 0 << QStringList{"^Usage: winsteps machine ACTION", "reboot DIR"};
        QTest::newRow("help profile show") << QStringList{"help", "profile", "show"} << 0 << QStringList{"^Usage: winsteps profile show NAME|FILE"};
        QTest::newRow("help tool NAME") << QStringList{"help", "tool", "exit"} << 0 << QStringList{"^Usage: winsteps tool NAME"};
        QTest::newRow("help of an unknown action") << QStringList{"help", "machine", "format"} << 2 << QStringList{"unknown action \"format\" (init, show,"};
        QTest::newRow("tool without a name") << QStringList{"tool"} << 2 << QStringList{"^winsteps tool: no tool name given (one of ping, exit,"};
        QTest::newRow("tool --help") << QStringList{"tool", "--help"} << 0
                                     << QStringList{"  exit [CODE [SECONDS]]\n", "WINSTEPS_MACHINE ", "WINSTEPS_PROFILE ", "WINSTEPS_EXIT_CODE_FD ", "NO_COLOR "};
        QTest::newRow("--version") << QStringList{"--color=never", "--version"} << 0 << QStringList{"^winsteps "};
        QTest::newRow("--color wrong") << QStringList{"--color=sometimes", "types"} << 2 << QStringList{"^winsteps: --color wants never, auto or always, not \"sometimes\""};
        QTest::newRow("--color without value") << QStringList{"--color"} << 2 << QStringList{"--color wants"};
        QTest::newRow("profiles with argument") << QStringList{"profiles", "x"} << 2 << QStringList{"no arguments expected"};
        QTest::newRow("profile show without name") << QStringList{"profile", "show"} << 2 << QStringList{"no profile named"};
        QTest::newRow("profile show unknown") << QStringList{"profile", "show", "win31"} << 2 << QStringList{"unknown profile \"win31\""};
        QTest::newRow("completion for another shell") << QStringList{"completion", "zsh"} << 2 << QStringList{"no completion for \"zsh\""};
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, texts);
        const CommandRun run = runWinsteps(arguments);
        QCOMPARE(run.exitCode, status);
        const QString& stream = status ? run.err : run.out;
        for (const QString& text : texts) {
            const bool start = text.startsWith('^');
            QVERIFY2(start ? stream.startsWith(text.mid(1)) : stream.contains(text), qPrintable(text + " not in:\n" + stream));
        }
        QVERIFY2(!stream.contains("\033["), "no colour on a pipe");
    }

    // Error lines are red when colour is on; the hint after them is not. Auto means: standard
    // error is a terminal and NO_COLOR is unset or empty.
    void colour_data()
    {
        QTest::addColumn<QString>("colour"); // the --color option, if any
        QTest::addColumn<QByteArray>("noColor"); // NO_COLOR; null: unset
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<bool>("coloured");
        QTest::newRow("auto, pipe") << QString() << QByteArray() << false << false;
        QTest::newRow("auto, terminal") << QString() << QByteArray() << true << true;
        QTest::newRow("auto, terminal, NO_COLOR") << QString() << QByteArray("1") << true << false;
        QTest::newRow("auto, terminal, NO_COLOR empty") << QString() << QByteArray("") << true << true;
        QTest::newRow("always, pipe") << "--color=always" << QByteArray() << false << true;
        QTest::newRow("always, NO_COLOR") << "--color=always" << QByteArray("1") << false << true;
        QTest::newRow("never, terminal") << "--color=never" << QByteArray() << true << false;
        QTest::newRow("auto given, terminal") << "--color=auto" << QByteArray() << true << true;
    }

    void colour()
    {
        QFETCH(QString, colour);
        QFETCH(QByteArray, noColor);
        QFETCH(bool, terminal);
        QFETCH(bool, coloured);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("NO_COLOR");
        if (!noColor.isNull())
            environment.insert("NO_COLOR", QString::fromUtf8(noColor));
        process.setProcessEnvironment(environment);
        int master = -1;
        if (terminal) {
            master = ::posix_openpt(O_RDWR | O_NOCTTY);
            QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
            process.setStandardErrorFile(QString::fromLocal8Bit(::ptsname(master)));
        }
        process.start(QStringLiteral(WINSTEPS_EXE), (colour.isEmpty() ? QStringList() : QStringList{colour}) + QStringList{"machine", "format"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 2);
        QByteArray err = process.readAllStandardError();
        if (terminal) {
            char buffer[4096];
            ::fcntl(master, F_SETFL, O_NONBLOCK);
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
                err.append(buffer, n);
            ::close(master);
            err.replace("\r\n", "\n");
        }
        const QByteArray line = "winsteps machine: unknown action \"format\"";
        QVERIFY2(err.contains(coloured ? QByteArray("\033[31m" + line) : QByteArray("\n" + line)) || (!coloured && err.startsWith(line)), err.constData());
        QVERIFY2(err.contains("\nTry 'winsteps machine --help'.\n"), err.constData()); // the hint stays plain
        QCOMPARE(err.contains("\033[0m\n"), coloured);
    }

    // The profiles: the list, and what a fresh machine of a built-in profile or a profile file
    // holds; the machine goes into a temporary folder and leaves nothing behind.
    void profiles()
    {
        const CommandRun json = runWinsteps({"profiles", "--json"});
        QCOMPARE(json.exitCode, 0);
        QMap<QString, QJsonObject> byName;
        QStringList defaults;
        for (const QJsonValue& value : QJsonDocument::fromJson(json.out.toUtf8()).array()) {
            byName.insert(value["name"].toString(), value.toObject());
            if (value["default"].toBool())
                defaults << value["name"].toString();
        }
        QCOMPARE(byName.size(), 10);
        QCOMPARE(defaults, QStringList{"winxp-sp2"});
        QCOMPARE(byName["vista-x64"]["wow64"].toBool(), true);
        QCOMPARE(byName["win98"]["system"].toString(), QString("9x 4.10.1998"));
        const CommandRun text = runWinsteps({"profiles"});
        QCOMPARE(text.out.count('\n'), 11); // a header and one line each
        QVERIFY2(text.out.contains(QRegularExpression("\nvista-x64 +NT 6.0.6001 Service Pack 1 +yes +yes +Windows Vista")), qPrintable(text.out));
    }

    void profileShow_data()
    {
        QTest::addColumn<QString>("profile"); // a name, or the text of a profile file
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("services");
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QStringList>("registry"); // parts of the .reg text
        QTest::newRow("winxp-sp2") << "winxp-sp2" << "NT" << 8 << "C:\\WINDOWS"
                                   << QStringList{"Windows Registry Editor Version 5.00", "\"CSDVersion\"=\"Service Pack 2\""};
        QTest::newRow("win98") << "win98" << "9x" << 0 << "C:\\WINDOWS" << QStringList{"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]"};
        QTest::newRow("file") << R"({"inherits": "vista", "registry": {"HKLM\\SOFTWARE\\Demo": {"Version": "2.1"}}})" << "NT" << 6 << "C:\\Windows"
                              << QStringList{"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\n\"Version\"=\"2.1\""};
    }

    void profileShow()
    {
        QFETCH(QString, profile);
        QFETCH(QString, family);
        QFETCH(int, services);
        QFETCH(QString, windows);
        QFETCH(QStringList, registry);
        if (profile.startsWith('{')) {
            const QString file = m_dir.filePath("profile.json");
            QVERIFY(testsupport::writeFile(file, profile.toUtf8()));
            profile = file;
        }
        const QString temp = m_dir.filePath("tmp-" + QString::number(qHash(profile)));
        QVERIFY(QDir().mkpath(temp));
        const QByteArray oldTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", temp.toUtf8());
        const CommandRun json = runWinsteps({"profile", "show", profile, "--json"});
        const CommandRun text = runWinsteps({"profile", "show", profile});
        qputenv("TMPDIR", oldTemp);
        QCOMPARE(json.exitCode, 0);
        QCOMPARE(text.exitCode, 0);
        QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());

        const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(object["system"]["family"].toString(), family);
        QCOMPARE(object["services"].toArray().size(), services);
        QCOMPARE(object["folders"]["windows"].toString(), windows);
        QVERIFY(!object["devices"].toArray().isEmpty() && !object["drives"].toArray().isEmpty());
        for (const char* folderOnly : {"machine", "driveC", "processes", "restarts"})
            QVERIFY2(!object.contains(folderOnly), folderOnly);
        for (const QString& part : registry) {
            QVERIFY2(object["registry"].toString().contains(part), qPrintable(part));
            QVERIFY2(text.out.contains(part), qPrintable(part));
        }
        for (const QString& part : {QString("\nVersion:   platform "), QString("\nFolders:\n  windows:                    " + windows + '\n'), QString("\nDrives:\n"), QString("\nRegistry:\n")})
            QVERIFY2(text.out.contains(part), qPrintable(part + " not in:\n" + text.out));
        QVERIFY2(!text.out.contains(temp) && !text.out.contains("Machine:"), qPrintable(text.out));
    }

    // The words the generated script offers: commands, machine actions from the action table
    // (the list the command gives for an unknown action), each one's options and values.
    void completion_data()
    {
        const CommandRun script = runWinsteps({"completion", "bash"});
        QCOMPARE(script.exitCode, 0);
        QVERIFY(testsupport::writeFile(m_dir.filePath("completion.bash"), script.out.toUtf8()));
        const QString listed = runWinsteps({"machine", "format"}).err.section("(", 1).section(")", 0, 0);

        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QStringList>("offered");
        QTest::newRow("ma") << QStringList{"winsteps", "ma"} << QStringList{"machine"};
        QTest::newRow("pro") << QStringList{"winsteps", "pro"} << QStringList{"profiles", "profile"};
        QTest::newRow("machine actions") << QStringList{"winsteps", "machine", ""} << listed.split(", ");
        QTest::newRow("machine re") << QStringList{"winsteps", "machine", "re"} << QStringList{"reboot", "restore"};
        QTest::newRow("machine init --") << QStringList{"winsteps", "machine", "init", "dir", "--"} << QStringList{"--profile", "--help"};
        QTest::newRow("run --t after values") << QStringList{"winsteps", "run", "--profile", "vista", "w.xml", "--t"} << QStringList{"--trace", "--timeout"};
        QTest::newRow("--profile value") << QStringList{"winsteps", "check", "w.xml", "--profile", "win9"} << QStringList{"win95", "win98", "win98se"};
        QTest::newRow("--color=") << QStringList{"winsteps", "--color", "=", ""} << QStringList{"never", "auto", "always"};
        QTest::newRow("after --color=always") << QStringList{"winsteps", "--color", "=", "always", "ty"} << QStringList{"types"};
        QTest::newRow("help machine") << QStringList{"winsteps", "help", "machine", "ex"} << QStringList{"export-reg"};
        QTest::newRow("tools") << QStringList{"winsteps", "tool", "re"} << QStringList{"regsvr32"};
        QTest::newRow("profile show --") << QStringList{"winsteps", "profile", "show", "--"} << QStringList{"--help", "--json"};
        QTest::newRow("global options") << QStringList{"winsteps", "--"} << QStringList{"--help", "--version", "--color"};
    }

    void completion()
    {
        QFETCH(QStringList, words);
        QFETCH(QStringList, offered);
        QCOMPARE(complete(words), offered);
    }
};

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
