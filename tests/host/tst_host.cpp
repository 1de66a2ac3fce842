// The winsteps host: the command run end to end on the sample wizards and on wizards
// written here, plus the machine, the loader and the report conversion in-process.

#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "cwizardrunner.h"
#include "framework/cstatefactory.h"
#include "hostfactory.h"
#include "jsonreport.h"

#include <QColor>
#include <QFile>
#include <QFont>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "support/commandrun.h"

#include <memory>

#include <signal.h>

using namespace winsteps::host;

namespace {

struct Run : CommandRun
{
    QJsonObject report; // empty when no report was written
    bool reportWritten = false;
};

// A state that leaves twice from one execute().
class CTwiceState : public CState
{
public:
    CTwiceState(QObject* parent, const char* name, const QDomNode& description)
        : CState(parent, name, description)
    {
        addEvent(QStringLiteral("finished"));
    }
    void execute() override
    {
        setExitEvent(QStringLiteral("finished"));
        leaveState();
        leaveState();
    }
};

QStringList stepTexts(const QJsonArray& steps)
{
    QStringList texts;
    for (const QJsonValue& step : steps)
        texts << step[QLatin1String("state")].toString() + QLatin1Char(':') + step[QLatin1String("event")].toString();
    return texts;
}

QStringList stepTexts(const QList<Step>& steps)
{
    QStringList texts;
    for (const Step& step : steps)
        texts << step.state + QLatin1Char(':') + step.event;
    return texts;
}

const QString Example = QStringLiteral(EXAMPLES_DIR "/");

// Processes of the host whose argv[0] is name.
QList<qint64> hostProcessesNamed(const QString& name)
{
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (entry.toLongLong() > 0 && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').value(0) == name.toUtf8())
            pids << entry.toLongLong();
    }
    return pids;
}

} // namespace

class tst_Host : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

    QString writeFile(const QString& text, const QString& suffix = QStringLiteral(".xml"))
    {
        return writeTestFile(m_dir, m_files, text.toUtf8(), suffix);
    }

    // Runs the winsteps command; with a report path added unless the arguments are a
    // command line of their own (report = false).
    Run winsteps(QStringList arguments, bool report = true)
    {
        const QString reportPath = m_dir.filePath(QStringLiteral("report%1.json").arg(++m_files));
        if (report)
            arguments << QStringLiteral("--report") << reportPath;
        Run run;
        static_cast<CommandRun&>(run) = runWinsteps(arguments);
        QFile file(reportPath);
        if (report && file.open(QIODevice::ReadOnly)) {
            run.reportWritten = true;
            run.report = QJsonDocument::fromJson(file.readAll()).object();
        }
        return run;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // ---- the sample wizards ----------------------------------------------------------

    void examples_data()
    {
        QTest::addColumn<QString>("wizard");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QStringList>("steps");
        // {"machine": {NAME: [TYPE, VALUE] or null for absent}, "application": {...}}
        QTest::addColumn<QString>("expected");

        const QStringList linearSteps{"welcome:finished", "options:finished", "done:finished"};
        QTest::newRow("linear") << "linear.xml" << QStringList() << "winxp-sp2" << linearSteps
                                << R"({"machine": {"title": ["QString", "Welcome to the Demo Suite setup"],
                                                   "version": ["QString", "2.1.0"],
                                                   "installDir": ["QString", "Demo Suite"],
                                                   "language": ["QString", "en"],
                                                   "product": ["QString", "Demo Suite"]},
                                      "application": {"greeting": ["QString", "Hello, it\u0027s the welcome page speaking"],
                                                      "retries": ["qlonglong", 3],
                                                      "ratio": ["double", 0.75],
                                                      "lang": ["QString", "en"]}})";
        QTest::newRow("linear --set") << "linear.xml"
                                      << QStringList{"--set", "fsm.product=Other Suite", "--set", "app.lang=de",
                                                     "--set", "app.extra=a=b"}
                                      << "winxp-sp2" << linearSteps
                                      << R"({"machine": {"installDir": ["QString", "Other Suite"],
                                                         "language": ["QString", "de"]},
                                            "application": {"extra": ["QString", "a=b"]}})";
        QTest::newRow("systems winxp-sp2") << "systems.xml" << QStringList{"--profile", "winxp-sp2"} << "winxp-sp2"
                                           << QStringList{"detect:finished", "done:finished"}
                                           << R"({"machine": {"family": ["QString", "Windows NT"],
                                                              "firewall": ["QString", "built in"],
                                                              "vendor": ["QString", "Example Software"],
                                                              "restart": ["QString", "not needed"]}})";
        QTest::newRow("systems win98") << "systems.xml" << QStringList{"--profile", "win98"} << "win98"
                                       << QStringList{"detect:finished", "done:finished"}
                                       << R"({"machine": {"family": ["QString", "Windows 9x"],
                                                          "firewall": null,
                                                          "vendor": ["QString", "Example Software"],
                                                          "restart": ["QString", "required"]}})";
        QTest::newRow("pageback") << "pageback.xml" << QStringList() << "winxp-sp2"
                                  << QStringList{"chooseFolder:finished", "review:pageBack", "chooseFolder:finished",
                                                 "review:finished", "install:finished"}
                                  << R"({"machine": {"reviewEvent": ["QString", "finished"],
                                                     "folder": ["QString", "C:\\Program Files\\Demo"]}})";
    }

    void examples()
    {
        QFETCH(QString, wizard);
        QFETCH(QStringList, arguments);
        QFETCH(QString, profile);
        QFETCH(QStringList, steps);
        QFETCH(QString, expected);

        const Run run = winsteps(QStringList{"run", Example + wizard} + arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(run.reportWritten);
        // The trace on standard error, the outcome on standard output.
        QVERIFY(run.err.contains("--- State " + steps.last().section(':', 0, 0) + ": leave state with event = "));
        QVERIFY2(run.out.endsWith(QStringLiteral("ended in state \"%1\" with event \"%2\" (exit status 0)\n")
                                      .arg(steps.last().section(':', 0, 0), steps.last().section(':', 1))),
                 qPrintable(run.out));
        const QJsonObject& report = run.report;
        QCOMPARE(report["schemaVersion"].toInt(), 1);
        QCOMPARE(report["wizard"].toString(), Example + wizard);
        QCOMPARE(report["profile"].toString(), profile);
        QCOMPARE(report["exitStatus"].toInt(), 0);
        QCOMPARE(stepTexts(report["steps"].toArray()), steps);
        QCOMPARE(report["steps"][0]["type"].toString(), QStringLiteral("noop"));
        QCOMPARE(report["final"]["state"].toString(), steps.last().section(':', 0, 0));
        QCOMPARE(report["final"]["event"].toString(), steps.last().section(':', 1));

        const QJsonObject expectations = QJsonDocument::fromJson(expected.toUtf8()).object();
        QVERIFY(!expectations.isEmpty());
        for (const QString& where : expectations.keys()) {
            const QJsonObject properties = report[where]["properties"].toObject();
            const QJsonObject wanted = expectations[where].toObject();
            for (const QString& name : wanted.keys()) {
                const QString what = where + QLatin1Char('.') + name;
                if (wanted[name].isNull()) {
                    QVERIFY2(!properties.contains(name), qPrintable(what));
                    continue;
                }
                const QJsonArray pair = wanted[name].toArray();
                QVERIFY2(properties.contains(name), qPrintable(what));
                QCOMPARE(properties[name]["type"].toString(), pair[0].toString());
                QCOMPARE(properties[name]["value"], pair[1]);
            }
        }
    }

    // ---- exit statuses -----------------------------------------------------------------

    void exitStatus_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("steps"); // empty: not checked (time-out)
        QTest::addColumn<QString>("finalState");
        QTest::addColumn<QVariant>("finalEvent"); // invalid: JSON null

        QTest::newRow("finished") << R"(<fsm name="m" start="a"><state name="a" type="noop"/></fsm>)"
                                  << QStringList() << 0 << QStringList{"a:finished"} << "a" << QVariant("finished");
        QTest::newRow("last event failed")
            << R"(<fsm name="m" start="a"><state name="a" type="noop"><property key="event" value="failed"/></state></fsm>)"
            << QStringList() << 1 << QStringList{"a:failed"} << "a" << QVariant("failed");
        QTest::newRow("failed and handled")
            << R"(<fsm name="m" start="a">
                    <state name="a" type="noop"><property key="event" value="failed"/></state>
                    <transition from="a" to="b" event="failed"/>
                    <state name="b" type="noop"/></fsm>)"
            << QStringList() << 0 << QStringList{"a:failed", "b:finished"} << "b" << QVariant("finished");
        QTest::newRow("own event without transition")
            << R"(<fsm name="m" start="a"><state name="a" type="noop"><property key="event" value="skipped"/></state></fsm>)"
            << QStringList() << 0 << QStringList{"a:skipped"} << "a" << QVariant("skipped");
        QTest::newRow("event set by --set through a map")
            << R"(<fsm name="m" start="a">
                    <property key="outcome" value="finished"/>
                    <state name="a" type="noop"/>
                    <transition from="a" to="b" event="finished"><propertymap target="event" function="$fsm.outcome"/></transition>
                    <state name="b" type="noop"/></fsm>)"
            << QStringList{"--set", "fsm.outcome=failed"} << 1 << QStringList{"a:finished", "b:failed"} << "b"
            << QVariant("failed");
        QTest::newRow("page back with no history")
            << R"(<fsm name="m" start="a"><state name="a" type="noop"><property key="event" value="pageBack"/></state></fsm>)"
            << QStringList() << 0 << QStringList{"a:pageBack"} << "a" << QVariant("pageBack");
        QTest::newRow("endless loop stopped by time-out")
            << R"(<fsm name="m" start="a">
                    <state name="a" type="noop"/><state name="b" type="noop"/>
                    <transition from="a" to="b" event="finished"/>
                    <transition from="b" to="a" event="finished"/></fsm>)"
            << QStringList{"--timeout", "0.3"} << 3 << QStringList() << QString() << QVariant();
    }

    void exitStatus()
    {
        QFETCH(QString, body);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, steps);
        QFETCH(QString, finalState);
        QFETCH(QVariant, finalEvent);

        const Run run = winsteps(QStringList{"run", writeFile(body)} + arguments);
        QVERIFY2(run.exitCode == status, qPrintable(run.err));
        QVERIFY(run.reportWritten);
        QCOMPARE(run.report["exitStatus"].toInt(), status);
        const QJsonValue event = run.report["final"]["event"];
        if (finalEvent.isValid()) {
            QCOMPARE(stepTexts(run.report["steps"].toArray()), steps);
            QCOMPARE(run.report["final"]["state"].toString(), finalState);
            QCOMPARE(event.toString(), finalEvent.toString());
        } else {
            // Stopped while running: some steps, a state that did not leave.
            QVERIFY(run.report["steps"].toArray().size() > 0);
            QVERIFY(event.isNull());
            const QString state = run.report["final"]["state"].toString();
            QVERIFY2(state == "a" || state == "b", qPrintable(state));
        }
    }

    // ---- the host's action states ---------------------------------------------------------

    // The action reads its own properties (filtered by system, each traced); after the run
    // the state answers with the action's: the command line as run and the exit code.
    void actionStatesReadTheirOwnProperties()
    {
        const QString tracePath = m_dir.filePath("action.log");
        const Run run = winsteps({"run", writeFile(R"(<fsm name="m" start="p">
              <state name="p" type="startApp">
                <property key="command" value="/bin/sh"/>
                <property key="argument1" value="-c"/>
                <property key="argument2" value='"exit 3"'/>
                <system type="winxp+"><property key="timeout" value="6"/></system>
                <system type="win9x"><property key="timeout" value="9"/></system>
              </state>
              <transition from="p" to="done" event="success">
                <propertymap target="fsm.list" function="$argumentList"/>
                <propertymap target="fsm.code" function="$returnCode"/>
              </transition>
              <state name="done" type="noop"/></fsm>)"), "--trace", tracePath});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QFile file(tracePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString trace = QString::fromUtf8(file.readAll());
        QVERIFY2(trace.contains("Set property for action \"p\": key = \"timeout\" value = \"6\"\n"), qPrintable(trace));
        QVERIFY(trace.contains("Set property for action \"p\": key = \"argument2\" value = \"\"exit 3\"\"\n"));
        QVERIFY(!trace.contains("value = \"9\""));
        const QJsonObject properties = run.report["machine"]["properties"].toObject();
        QCOMPARE(properties["list"]["value"].toVariant().toStringList(), (QStringList{"/bin/sh", "-c", "\"exit 3\""}));
        QCOMPARE(properties["code"]["value"].toInt(), 3);
    }

    // Programs a run leaves running: ended with a temporary machine, before it goes; on a
    // kept machine left running and listed in the report.
    void programsLeftByARun_data()
    {
        QTest::addColumn<bool>("kept");
        QTest::newRow("temporary machine") << false;
        QTest::newRow("kept machine") << true;
    }

    void programsLeftByARun()
    {
        QFETCH(bool, kept);
        const QString name = QStringLiteral("linger%1.exe").arg(QCoreApplication::applicationPid());
        const QString profile = writeFile(QStringLiteral(R"({"inherits": "winxp-sp2", "tools": {"%1": "exit"}})").arg(name),
                                          QStringLiteral(".json"));
        const QString wizard = writeFile(QStringLiteral(R"(<fsm name="m" start="a">
              <state name="a" type="startApp"><property key="command" value="%1"/>
                <property key="argument1" value="0 60"/><property key="timeout" value="-1"/></state></fsm>)").arg(name));
        QStringList arguments{"run", wizard, "--profile", profile, "--timeout", "1"};
        if (kept)
            arguments << "--machine" << m_dir.filePath(QStringLiteral("kept%1").arg(++m_files));
        const Run run = winsteps(arguments);
        QCOMPARE(run.exitCode, 3);
        const QList<qint64> running = hostProcessesNamed(name);
        for (const qint64 pid : running)
            ::kill(pid_t(pid), SIGKILL);
        const QJsonArray listed = run.report["processes"].toArray();
        QCOMPARE(running.size(), kept ? 1 : 0);
        QCOMPARE(listed.size(), running.size());
        if (kept) {
            QCOMPARE(listed[0]["pid"].toInteger(), running[0]);
            QCOMPARE(listed[0]["name"].toString(), name);
        }
    }

    // ---- refusals before anything runs ---------------------------------------------------

    void loadErrors_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("message");

        QTest::newRow("not XML") << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\">\n</fsm>\n" << 3
                                 << "not well-formed XML";
        QTest::newRow("empty file") << "" << 1 << "not well-formed XML";
        QTest::newRow("wrong root") << "<?xml version=\"1.0\"?>\n<wizard/>" << 2
                                    << "the root element is <wizard>, expected <fsm>";
        QTest::newRow("unknown type") << "<fsm name=\"m\" start=\"a\">\n  <state name=\"a\" type=\"frobnicate\"/>\n</fsm>"
                                      << 2 << "unknown state type \"frobnicate\" of state \"a\"";
        QTest::newRow("duplicate state")
            << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\"/>\n\n<state name=\"a\" type=\"noop\"/>\n</fsm>"
            << 4 << "duplicate state name \"a\" (first declared on line 2)";
        QTest::newRow("from unknown") << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\"/>\n"
                                         "<transition from=\"x\" to=\"a\" event=\"finished\"/>\n</fsm>"
                                      << 3 << "transition from unknown state \"x\"";
        QTest::newRow("to unknown") << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\"/>\n"
                                       "<transition from=\"a\" to=\"y\" event=\"finished\"/>\n</fsm>"
                                    << 3 << "transition to unknown state \"y\"";
        QTest::newRow("unknown start") << "<?xml version=\"1.0\"?>\n<fsm name=\"m\" start=\"nowhere\">\n<state name=\"a\" type=\"noop\"/>\n</fsm>"
                                       << 2 << "unknown start state \"nowhere\"";
        QTest::newRow("no start") << "<fsm name=\"m\">\n<state name=\"a\" type=\"noop\"/>\n</fsm>" << 1
                                  << "missing attribute \"start\" on <fsm>";
        QTest::newRow("state without name") << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\"/>\n"
                                               "<state type=\"noop\"/>\n</fsm>"
                                            << 3 << "missing attribute \"name\" on <state>";
        QTest::newRow("state without type") << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\"/>\n</fsm>" << 2
                                            << "missing attribute \"type\" on <state>";
        QTest::newRow("transition without event")
            << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\"/>\n<transition from=\"a\" to=\"a\"/>\n</fsm>"
            << 3 << "missing attribute \"event\" on <transition>";
        QTest::newRow("map without target")
            << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\"/>\n<transition from=\"a\" to=\"a\" "
               "event=\"x\">\n<propertymap function=\"1\"/>\n</transition>\n</fsm>"
            << 4 << "missing attribute \"target\" on <propertymap>";
        QTest::newRow("second transition for an event")
            << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\"/>\n"
               "<transition from=\"a\" to=\"a\" event=\"x|finished\"/>\n<transition from=\"a\" to=\"a\" event=\"finished\"/>\n</fsm>"
            << 4 << "state \"a\" already has a transition for event \"finished\" (line 3)";
        QTest::newRow("empty event name")
            << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\"/>\n<transition from=\"a\" to=\"a\" event=\"x||y\"/>\n</fsm>"
            << 3 << "empty event name in \"x||y\"";
        QTest::newRow("unknown element") << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\"/>\n<stat/>\n</fsm>"
                                         << 3 << "unknown element <stat> in <fsm>";
    }

    // In-process: every refusal with its line, and no machine.
    void loadErrors()
    {
        QFETCH(QString, body);
        QFETCH(int, line);
        QFETCH(QString, message);

        std::unique_ptr<CStateFactory> factory(createHostFactory());
        CApplication application;
        CWizardLoader loader(factory.get());
        std::unique_ptr<CFsm> fsm(loader.loadData(body.toUtf8(), QStringLiteral("w.xml"), &application));
        QVERIFY(!fsm);
        const QString wanted = QStringLiteral("w.xml:%1: %2").arg(line).arg(message);
        const QStringList errors = loader.errors();
        QVERIFY2(std::any_of(errors.cbegin(), errors.cend(), [&](const QString& e) { return e.startsWith(wanted); }),
                 qPrintable(errors.join('\n') + "\nwanted: " + wanted));
    }

    // Through the command: exit status 2, every fault on stderr, nothing run, no report.
    void loadErrorsReported()
    {
        const QString path = writeFile("<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"frobnicate\"/>\n"
                                       "<transition from=\"a\" to=\"b\" event=\"finished\"/>\n</fsm>\n");
        const Run run = winsteps({"run", path});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(path + ":2: unknown state type \"frobnicate\""), qPrintable(run.err));
        QVERIFY2(run.err.contains(path + ":3: transition to unknown state \"b\""), qPrintable(run.err));
        QVERIFY(!run.err.contains("--- State"));
        QVERIFY(!run.reportWritten);
    }

    // ---- the command line ------------------------------------------------------------

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");

        const QString wizard = Example + "linear.xml";
        QTest::newRow("nothing") << QStringList() << "Usage: winsteps COMMAND";
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command \"frobnicate\"";
        QTest::newRow("no wizard") << QStringList{"run"} << "no wizard file given";
        QTest::newRow("two wizards") << QStringList{"run", wizard, wizard} << "one wizard file only";
        QTest::newRow("missing wizard") << QStringList{"run", "/nonexistent/w.xml"} << "cannot open the wizard";
        QTest::newRow("unknown option") << QStringList{"run", wizard, "--frobnicate"} << "frobnicate";
        QTest::newRow("--set without prefix") << QStringList{"run", wizard, "--set", "x=1"} << "--set wants";
        QTest::newRow("--set other prefix") << QStringList{"run", wizard, "--set", "state.x=1"} << "--set wants";
        QTest::newRow("--set without name") << QStringList{"run", wizard, "--set", "fsm.=1"} << "--set wants";
        QTest::newRow("--set without value") << QStringList{"run", wizard, "--set", "fsm.x"} << "--set wants";
        QTest::newRow("--timeout zero") << QStringList{"run", wizard, "--timeout", "0"} << "--timeout wants";
        QTest::newRow("--timeout text") << QStringList{"run", wizard, "--timeout", "soon"} << "--timeout wants";
        QTest::newRow("report in missing folder")
            << QStringList{"run", wizard, "--report", "/nonexistent/r.json"} << "cannot write the report";
        QTest::newRow("trace in missing folder")
            << QStringList{"run", wizard, "--trace", "/nonexistent/t.log"} << "cannot write the trace";
        QTest::newRow("unknown profile") << QStringList{"run", wizard, "--profile", "os-nine"} << "os-nine";
        QTest::newRow("types with argument") << QStringList{"types", "extra"} << "no arguments expected";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Run run = winsteps(arguments, false);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(!run.err.contains("--- State")); // refused before anything ran
    }

    void help_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("mentions");
        QTest::newRow("tool") << QStringList{"--help"} << QStringList{"run", "types", "Exit status"};
        QTest::newRow("run") << QStringList{"run", "--help"}
                             << QStringList{"Usage: winsteps run WIZARD.xml", "--profile", "--machine", "--set",
                                            "--report", "--trace", "--timeout", "winxp-sp2"};
        QTest::newRow("help run") << QStringList{"help", "run"} << QStringList{"Usage: winsteps run", "--timeout"};
        QTest::newRow("types") << QStringList{"types", "--help"} << QStringList{"Usage: winsteps types", "--json"};
    }

    void help()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, mentions);
        const Run run = winsteps(arguments, false);
        QCOMPARE(run.exitCode, 0);
        for (const QString& text : mentions)
            QVERIFY2(run.out.contains(text), qPrintable(text + " not in:\n" + run.out));
    }

    // ---- traces ------------------------------------------------------------------------

    void traceFile()
    {
        const QString tracePath = m_dir.filePath("trace.log");
        const Run run = winsteps({"run", Example + "linear.xml", "--trace", tracePath});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QFile file(tracePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString trace = QString::fromUtf8(file.readAll());
        const QString lines[] = {
            "--- State welcome: enter state (type noop)",
            "--- State welcome: leave state with event = finished",
            "|\u00afpropertymap",
            "| - get value from property \"title\" from state \"welcome\".",
            "|_Set property \"title\" value as string = Welcome to the Demo Suite setup",
            "| - get value from property \"product\" from FSM.",
            "| - get value from property \"lang\" from application.",
            "--- State linear: leave state with event = finished",
        };
        for (const QString& line : lines)
            QVERIFY2(trace.contains(line), qPrintable(line + " not in:\n" + trace));
        QVERIFY(trace.contains(QRegularExpression("^\\[state {15}\\]", QRegularExpression::MultilineOption)));
        QVERIFY2(!run.err.contains("--- State"), qPrintable(run.err)); // all of it went to the file
    }

    // ---- types -------------------------------------------------------------------------

    void types()
    {
        const Run text = winsteps({"types"}, false);
        QCOMPARE(text.exitCode, 0);
        QVERIFY2(text.out.contains("factory \"host\"\n"), qPrintable(text.out));
        QVERIFY2(text.out.contains("\n  noop (CNoopState)\n    events:   finished\n"), qPrintable(text.out));
        QVERIFY(text.out.contains("factory \"win\""));

        const Run json = winsteps({"types", "--json"}, false);
        QCOMPARE(json.exitCode, 0);
        const QJsonArray factories = QJsonDocument::fromJson(json.out.toUtf8())["factories"].toArray();
        QCOMPARE(factories.size(), 2);
        QCOMPARE(factories[0]["name"].toString(), QStringLiteral("host"));
        QCOMPARE(factories[1]["name"].toString(), QStringLiteral("win"));
        QJsonObject noop;
        for (const QJsonValue& type : factories[0]["types"].toArray()) {
            if (type["type"].toString() == QLatin1String("noop"))
                noop = type.toObject();
        }
        QCOMPARE(noop["type"].toString(), QStringLiteral("noop"));
        QCOMPARE(noop["events"].toArray(), QJsonArray{"finished"});
        QCOMPARE(noop["required"].toArray(), QJsonArray());
        // Every type of the plug-in can be made without a description.
        for (const QJsonValue& type : factories[1]["types"].toArray())
            QVERIFY2(!type["class"].toString().isEmpty(), qPrintable(type["type"].toString()));
    }

    // ---- the machine in-process --------------------------------------------------------

    void history()
    {
        std::unique_ptr<CStateFactory> factory(createHostFactory());
        CWizardLoader loader(factory.get());
        std::unique_ptr<CFsm> fsm(loader.loadData(
            R"(<fsm name="m" start="a"><state name="a" type="noop"/><state name="b" type="noop"/>
                 <state name="c" type="noop"/></fsm>)",
            "h.xml", nullptr));
        QVERIFY2(fsm, qPrintable(loader.errors().join('\n')));
        fsm->moveToState("a");
        fsm->moveToState("b");
        fsm->moveToState("c");
        QCOMPARE(fsm->history(), QStringList({"a", "b"}));
        fsm->pageBack();
        QCOMPARE(fsm->currentState()->objectName(), QStringLiteral("b"));
        QCOMPARE(fsm->history(), QStringList({"a"}));
        fsm->moveToState("c"); // forward again from b
        QCOMPARE(fsm->history(), QStringList({"a", "b"}));
        fsm->pageBack();
        fsm->pageBack();
        QCOMPARE(fsm->currentState()->objectName(), QStringLiteral("a"));
        fsm->pageBack(); // nothing left: stays
        QCOMPARE(fsm->currentState()->objectName(), QStringLiteral("a"));
        fsm->moveToState("nowhere"); // refused, current kept
        QCOMPARE(fsm->currentState()->objectName(), QStringLiteral("a"));
        QVERIFY(fsm->history().isEmpty());
    }

    // A state that leaves twice is followed once; the parent chain ends at the machine.
    void leaveTwice()
    {
        std::unique_ptr<CStateFactory> factory(createHostFactory());
        factory->registerState("twice", &CStateFactory::creator<CTwiceState>);
        CApplication application;
        CWizardLoader loader(factory.get());
        std::unique_ptr<CFsm> fsm(loader.loadData(
            R"(<fsm name="m" start="a"><application><property key="lang" value="en"/></application>
                 <state name="a" type="twice"/><state name="b" type="noop"/>
                 <transition from="a" to="b" event="finished"/></fsm>)",
            "t.xml", &application));
        QVERIFY2(fsm, qPrintable(loader.errors().join('\n')));
        QCOMPARE(fsm->findState("a")->applicationProperties(), &application);
        QCOMPARE(fsm->findState("a")->application(), QCoreApplication::instance());
        QCOMPARE(application.property("lang").toString(), QStringLiteral("en"));

        CWizardRunner runner(fsm.get());
        QCOMPARE(runner.run(), int(ExitOk));
        QCOMPARE(stepTexts(runner.steps()), QStringList({"a:finished", "b:finished"}));
        QVERIFY(!fsm->isRunning());
        QCOMPARE(fsm->exitEvent(), QStringLiteral("finished"));
    }

    // ---- report values -----------------------------------------------------------------

    void reportValues_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("json");

        QTest::newRow("invalid") << QVariant() << R"({"type":"invalid","value":null})";
        QTest::newRow("qlonglong") << QVariant(qlonglong(-1099511627776)) << R"({"type":"qlonglong","value":-1099511627776})";
        QTest::newRow("int") << QVariant(int(7)) << R"({"type":"int","value":7})";
        QTest::newRow("uint") << QVariant(uint(4000000000u)) << R"({"type":"uint","value":4000000000})";
        QTest::newRow("qulonglong") << QVariant(qulonglong(12)) << R"({"type":"qulonglong","value":12})";
        QTest::newRow("double") << QVariant(2.5) << R"({"type":"double","value":2.5})";
        QTest::newRow("bool") << QVariant(true) << R"({"type":"bool","value":true})";
        QTest::newRow("QString") << QVariant(QStringLiteral("ä \"q\"")) << R"({"type":"QString","value":"ä \u0022q\u0022"})";
        QTest::newRow("empty QString") << QVariant(QString()) << R"({"type":"QString","value":""})";
        QTest::newRow("QStringList") << QVariant(QStringList{"a", "b"}) << R"({"type":"QStringList","value":["a","b"]})";
        QTest::newRow("QVariantList")
            << QVariant(QVariantList{1, "x", QVariantList{true}})
            << R"({"type":"QVariantList","value":[{"type":"int","value":1},{"type":"QString","value":"x"},
                  {"type":"QVariantList","value":[{"type":"bool","value":true}]}]})";
        QTest::newRow("QColor") << QVariant(QColor(255, 0, 128)) << R"({"type":"QColor","value":"#ff0080"})";
        QTest::newRow("QPoint") << QVariant(QPoint(3, -4)) << R"({"type":"QPoint","value":{"x":3,"y":-4}})";
        QTest::newRow("QSize") << QVariant(QSize(640, 480)) << R"({"type":"QSize","value":{"width":640,"height":480}})";
        QTest::newRow("QPixmap") << QVariant(QPixmap(2, 3)) << R"({"type":"QPixmap","value":{"width":2,"height":3}})";
        const QFont font(QStringLiteral("Sans"), 12, QFont::Bold);
        QTest::newRow("QFont") << QVariant(font) << QStringLiteral(R"({"type":"QFont","value":"%1"})").arg(font.toString());
    }

    void reportValues()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, json);
        const QJsonObject expected = QJsonDocument::fromJson(json.toUtf8()).object();
        QVERIFY(!expected.isEmpty());
        QCOMPARE(variantToJson(value), expected);
    }

    // Object properties nest with their class and name; data fields are the properties.
    void reportObjects()
    {
        CPropertyObject root(nullptr, "root");
        root.setProperty("plain", QVariant(QStringLiteral("v")));
        auto* child = new CPropertyObject(nullptr, "node");
        child->setProperty("n", QVariant(qlonglong(1)));
        root.setObjectProperty("child", child);
        const QJsonObject json = propertiesToJson(&root);
        QCOMPARE(json["properties"]["plain"]["value"].toString(), QStringLiteral("v"));
        QVERIFY(!json["properties"].toObject().contains("objectName"));
        const QJsonObject object = json["objects"]["child"].toObject();
        QCOMPARE(object["class"].toString(), QStringLiteral("CPropertyObject"));
        QCOMPARE(object["name"].toString(), QStringLiteral("node"));
        QCOMPARE(object["properties"]["n"]["value"].toInt(), 1);
        QCOMPARE(object["objects"].toObject(), QJsonObject());
    }
};

QTEST_MAIN(tst_Host)
#include "tst_host.moc"
