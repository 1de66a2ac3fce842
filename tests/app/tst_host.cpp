// The winsteps host: the command run end to end on the sample wizards and on wizards
// written here, plus the report conversion in-process.

#include "jsonreport.h"
#include "objects/cpropertyobject.h"

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
#include "support/files.h"

#include <signal.h>

using namespace winsteps::host;

namespace {

using Run = ReportRun;

QStringList stepTexts(const QJsonArray& steps)
{
    QStringList texts;
    for (const QJsonValue& step : steps)
        texts << step[QLatin1String("state")].toString() + QLatin1Char(':') + step[QLatin1String("event")].toString();
    return texts;
}

QString readText(const QString& path)
{
    return QString::fromUtf8(testsupport::readFile(path));
}

// A wizard that starts in state "a".
QString fsm(const QString& body)
{
    return QStringLiteral(R"(<fsm name="m" start="a">)") + body + QStringLiteral("</fsm>");
}

// A noop state that leaves with event (its own "finished" when none is given).
QString noop(const char* name, const char* event = nullptr)
{
    return QStringLiteral(R"(<state name="%1" type="noop">%2</state>)")
        .arg(QLatin1String(name), event ? QStringLiteral(R"(<property key="event" value="%1"/>)").arg(QLatin1String(event)) : QString());
}

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

const QString Example = QStringLiteral(EXAMPLES_DIR "/");

} // namespace

class TstHost : public QObject
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
    Run winsteps(const QStringList& arguments, bool report = true)
    {
        if (report)
            return runWinstepsWithReport(m_dir, m_files, arguments);
        Run run;
        static_cast<CommandRun&>(run) = runWinsteps(arguments);
        return run;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Runs of the sample wizards and of wizards written here: exit status, the steps (the last
    // one is the final state and event; none: stopped by the time-out), the report and trace.
    void runs_data()
    {
        QTest::addColumn<QString>("wizard"); // in the examples folder, a path, or a wizard's text
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("steps");
        // {"machine": {NAME: [TYPE, VALUE] or null for absent}, "application": {...}}
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("traced"); // lines of the trace (in the file given by --trace)
        QTest::addColumn<QStringList>("files"); // in the folder given by --machine; "!" first: absent

        const QStringList linearSteps{"welcome:finished", "options:finished", "done:finished"};
        QTest::newRow("linear, trace to a file")
            << "linear.xml" << QStringList{"--trace", m_dir.filePath("trace.log")} << "winxp-sp2" << 0 << linearSteps
            << R"({"machine": {"title": ["QString", "Welcome to the Demo Suite setup"], "version": ["QString", "2.1.0"],
                    "installDir": ["QString", "Demo Suite"], "language": ["QString", "en"], "product": ["QString", "Demo Suite"]},
                   "application": {"greeting": ["QString", "Hello, it\u0027s the welcome page speaking"],
                    "retries": ["qlonglong", 3], "ratio": ["double", 0.75], "lang": ["QString", "en"]}})"
            << QStringList{"[state               ]--- State welcome: enter state (type noop)\n", "|\u00afpropertymap",
                           "| - get value from property \"title\" from state \"welcome\".",
                           "|_Set property \"title\" value as string = Welcome to the Demo Suite setup",
                           "| - get value from property \"product\" from FSM.",
                           "| - get value from property \"lang\" from application.",
                           "--- State linear: leave state with event = finished"} << QStringList();
        QTest::newRow("linear --set")
            << "linear.xml" << QStringList{"--set", "fsm.product=Other Suite", "--set", "app.lang=de", "--set", "app.extra=a=b"}
            << "winxp-sp2" << 0 << linearSteps
            << R"({"machine": {"installDir": ["QString", "Other Suite"], "language": ["QString", "de"]},
                   "application": {"extra": ["QString", "a=b"]}})" << QStringList() << QStringList();
        QTest::newRow("systems winxp-sp2")
            << "systems.xml" << QStringList{"--profile", "winxp-sp2"} << "winxp-sp2" << 0 << QStringList{"detect:finished", "done:finished"}
            << R"({"machine": {"family": ["QString", "Windows NT"], "firewall": ["QString", "built in"],
                   "vendor": ["QString", "Example Software"], "restart": ["QString", "not needed"]}})" << QStringList() << QStringList();
        QTest::newRow("systems win98")
            << "systems.xml" << QStringList{"--profile", "win98"} << "win98" << 0 << QStringList{"detect:finished", "done:finished"}
            << R"({"machine": {"family": ["QString", "Windows 9x"], "firewall": null,
                   "vendor": ["QString", "Example Software"], "restart": ["QString", "required"]}})" << QStringList() << QStringList();
        QTest::newRow("pageback")
            << "pageback.xml" << QStringList() << "winxp-sp2" << 0
            << QStringList{"chooseFolder:finished", "review:pageBack", "chooseFolder:finished", "review:finished", "install:finished"}
            << R"({"machine": {"reviewEvent": ["QString", "finished"], "folder": ["QString", "C:\\Program Files\\Demo"]}})"
            << QStringList() << QStringList();
        // A program run, then files copied by masks into folders made on the way, with progress.
        QTest::newRow("startapp")
            << "startapp.xml"
            << QStringList{"--set", "fsm.sourceDir=" + Example + "startapp", "--machine", m_dir.filePath("sample"),
                           "--trace", m_dir.filePath("sample.log")}
            << "winxp-sp2" << 0 << QStringList{"ping:success", "copy:success", "done:finished"}
            << R"({"machine": {"pingCode": ["qlonglong", 0]}})"
            << QStringList{"]--- State copy: progress 33%\n", "]--- State copy: progress 66%\n", "\n[THREAD] Action = copy.\n",
                           "]--- State copy: actionFinished - result = 0\n"}
            << QStringList{"drive_c/Program Files/Demo Suite/docs/readme.txt", "drive_c/Program Files/Demo Suite/docs/notes.md",
                           "drive_c/Program Files/Demo Suite/config/default/settings.ini",
                           "!drive_c/Program Files/Demo Suite/docs/unused.log"};

        // The sample wizard that reads and edits an XML configuration: its own settings file, or
        // one given by --xml.
        const QStringList xmlSteps{"read:finished", "edit:finished", "done:finished", "end:finished"};
        QTest::newRow("xmlconfig") << "xmlconfig.xml" << QStringList() << "winxp-sp2" << 0 << xmlSteps
            << R"({"machine": {"product": ["QString", "Demo Suite"], "mainHost": ["QString", "main.example.com"],
                   "serverCount": ["int", 3], "optionCount": ["int", 1], "mainPort": ["QString", "8443"], "lastRole": ["QString", "backup"]}})"
            << QStringList() << QStringList();
        const QString otherSettings = writeFile(R"xml(<settings><product>Other</product><servers>
          <server role="main" host="h" port="1"/></servers><options/></settings>)xml");
        QTest::newRow("xmlconfig --xml") << "xmlconfig.xml" << QStringList{"--xml", "config=" + otherSettings} << "winxp-sp2" << 0
            << xmlSteps << R"({"machine": {"product": ["QString", "Other"], "serverCount": ["int", 2]}})" << QStringList() << QStringList();

        const auto written = [](const char* name, const QString& body, const QStringList& arguments, int status,
                                const QStringList& steps) {
            QTest::newRow(name) << body << arguments << "winxp-sp2" << status << steps << QString() << QStringList() << QStringList();
        };
        written("finished", fsm(noop("a")), {}, 0, {"a:finished"});
        written("last event failed", fsm(noop("a", "failed")), {}, 1, {"a:failed"});
        written("failed and handled", fsm(noop("a", "failed") + R"(<transition from="a" to="b" event="failed"/>)" + noop("b")), {}, 0,
                {"a:failed", "b:finished"});
        written("own event without transition", fsm(noop("a", "skipped")), {}, 0, {"a:skipped"});
        written("event set by --set through a map",
                fsm(R"(<property key="outcome" value="finished"/>)" + noop("a") + noop("b")
                    + R"(<transition from="a" to="b" event="finished"><propertymap target="event" function="$fsm.outcome"/></transition>)"),
                {"--set", "fsm.outcome=failed"}, 1, {"a:finished", "b:failed"});
        written("page back with no history", fsm(noop("a", "pageBack")), {}, 0, {"a:pageBack"});
        // States keep the names the wizard gives them: one declaring another "objectName", and
        // one renamed by a map that the run later goes back to, run to the end with warnings.
        QTest::newRow("renamed states") << DATA_DIR "/renamed.xml" << QStringList() << "winxp-sp2" << 0
            << QStringList{"a:finished", "c:finished", "d:pageBack", "c:finished", "d:finished"} << QString()
            << QStringList{"--- State a: ! Warning ! Object name changed to \"b\"",
                           "--- State c: ! Warning ! Object name changed to \"renamed\""} << QStringList();
        written("endless loop stopped by time-out",
                fsm(noop("a") + noop("b") + R"(<transition from="a" to="b" event="finished"/><transition from="b" to="a" event="finished"/>)"),
                {"--timeout", "0.3"}, 3, {});
    }

    void runs()
    {
        QFETCH(QString, wizard);
        QFETCH(QStringList, arguments);
        QFETCH(QString, profile);
        QFETCH(int, status);
        QFETCH(QStringList, steps);
        QFETCH(QString, expected);
        QFETCH(QStringList, traced);
        QFETCH(QStringList, files);

        const QString path = wizard.startsWith('<') ? writeFile(wizard) : wizard.startsWith('/') ? wizard : Example + wizard;
        const Run run = winsteps(QStringList{"run", path} + arguments);
        QVERIFY2(run.exitCode == status, qPrintable(run.err));
        QVERIFY(run.reportWritten);
        const QJsonObject& report = run.report;
        QCOMPARE(report["schemaVersion"].toInt(), 1);
        QCOMPARE(report["wizard"].toString(), path);
        QCOMPARE(report["profile"].toString(), profile);
        QCOMPARE(report["exitStatus"].toInt(), status);
        if (steps.isEmpty()) {
            // Stopped while running: some steps, a state that did not leave.
            QVERIFY(report["steps"].toArray().size() > 0);
            QVERIFY(report["final"]["event"].isNull());
            QVERIFY2(report["final"]["state"] == "a" || report["final"]["state"] == "b", qPrintable(run.out));
            return;
        }
        // The trace on standard error, or all of it in the file given; the outcome on standard output.
        const qsizetype traceAt = arguments.indexOf("--trace");
        const QString trace = traceAt < 0 ? run.err : readText(arguments.at(traceAt + 1));
        QVERIFY2(traceAt < 0 || !run.err.contains("--- State"), qPrintable(run.err));
        const QString last = steps.last().section(':', 0, 0), lastEvent = steps.last().section(':', 1);
        for (const QString& line : traced + QStringList("--- State " + last + ": leave state with event = "))
            QVERIFY2(trace.contains(line), qPrintable(line + " not in:\n" + trace));
        QVERIFY2(run.out.endsWith(QStringLiteral("ended in state \"%1\" with event \"%2\" (exit status %3)\n").arg(last, lastEvent).arg(status)),
                 qPrintable(run.out));
        QCOMPARE(stepTexts(report["steps"].toArray()), steps);
        QCOMPARE(report["steps"].toArray().last()["type"].toString(), QStringLiteral("noop"));
        QCOMPARE(report["final"]["state"].toString(), last);
        QCOMPARE(report["final"]["event"].toString(), lastEvent);

        for (const QString& file : files) {
            const bool absent = file.startsWith(QLatin1Char('!'));
            const QString path = arguments.at(arguments.indexOf("--machine") + 1) + QLatin1Char('/') + file.mid(absent ? 1 : 0);
            QVERIFY2(QFileInfo::exists(path) != absent, qPrintable(file));
        }

        const QJsonObject expectations = QJsonDocument::fromJson(expected.toUtf8()).object();
        QVERIFY(expected.isEmpty() || !expectations.isEmpty());
        for (const QString& where : expectations.keys()) {
            const QJsonObject properties = report[where]["properties"].toObject();
            const QJsonObject wanted = expectations[where].toObject();
            for (const QString& name : wanted.keys()) {
                const QString what = where + QLatin1Char('.') + name;
                QVERIFY2(properties.contains(name) != wanted[name].isNull(), qPrintable(what));
                if (!wanted[name].isNull()) {
                    QCOMPARE(properties[name]["type"].toString(), wanted[name][0].toString());
                    QCOMPARE(properties[name]["value"], wanted[name][1]);
                }
            }
        }
    }

    // The sample wizard that edits an XML configuration, on its own settings file: the file is
    // left unwritten, the text the wizard makes of it is the edited document, and the document
    // and the nodes the maps stored are objects of the machine.
    void xmlConfigObjects()
    {
        const QString settings = Example + "data/xmlconfig-settings.xml";
        const QByteArray before = testsupport::readFile(settings);
        QVERIFY(before != "<unreadable>");
        const Run run = winsteps({"run", Example + "xmlconfig.xml"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err.right(2000)));
        QCOMPARE(testsupport::readFile(settings), before);
        QCOMPARE(run.report["machine"]["properties"]["configText"]["value"].toString(),
                 QStringLiteral("<?xml version='1.0' encoding='UTF-8'?>\n"
                                "<!-- The configuration file that examples/xmlconfig.xml reads and changes. -->\n"
                                "<settings>\n <product>Demo Suite</product>\n <servers>\n"
                                "  <server host=\"main.example.com\" port=\"8443\" role=\"main\"/>\n"
                                "  <server host=\"mirror.example.com\" port=\"80\" role=\"mirror\"/>\n"
                                "  <server role=\"backup\"/>\n </servers>\n <options>\n  <option name=\"cache\" value=\"64\"/>\n"
                                " </options>\n</settings>\n"));
        const QJsonObject objects = run.report["machine"]["objects"].toObject();
        QCOMPARE(objects["config"]["class"].toString(), QStringLiteral("CXPathNode"));
        QCOMPARE(objects["newServer"]["name"].toString(), QStringLiteral("server"));
        QCOMPARE(objects["options"]["name"].toString(), QStringLiteral("options"));
        // A node lists its declared properties as eval shows them.
        const QJsonObject node = objects["config"]["properties"].toObject();
        QCOMPARE(node.keys(), QStringList({"fullName", "nodeName", "nodeType", "nodeValue", "text"}));
        QCOMPARE(node["fullName"]["value"].toString(), QStringLiteral("/settings"));
        QCOMPARE(node["nodeType"]["value"].toString(), QStringLiteral("ElementNode"));
    }

    // The service example on a machine whose new service takes two seconds to start: the run
    // waits for it, reads its status and start type and stops it; the machine then shows the
    // service installed, reconfigured and stopped, to any other process.
    void servicesExample()
    {
        const QString machine = m_dir.filePath("services");
        QCOMPARE(winsteps({"machine", "init", machine}, false).exitCode, 0);
        QCOMPARE(winsteps({"machine", "stage-service", machine, "demosuitesvc", "--start-seconds", "2"}, false).exitCode, 0);
        const Run run = winsteps({"run", Example + "services.xml", "--machine", machine, "--set",
                                  "fsm.sourceDir=" + Example + "services"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(stepTexts(run.report["steps"].toArray()),
                 QStringList({"welcome:finished", "copy:success", "install:finished", "describe:finished", "start:finished",
                              "query:finished", "stopService:finished", "queryStopped:finished", "done:finished"}));
        const QJsonObject properties = run.report["machine"]["properties"].toObject();
        QCOMPARE(properties["runningStatus"]["value"].toString(), QStringLiteral("running"));
        QCOMPARE(properties["startType"]["value"].toString(), QStringLiteral("auto"));
        QCOMPARE(properties["finalStatus"]["value"].toString(), QStringLiteral("stopped"));
        // About 20 polls of 100 ms while it starts; the progress moves towards 20 + 30.
        QVERIFY2(run.err.count("Service is starting") >= 10, qPrintable(run.err));
        for (const char* line : {"start: Starting...", "start: Started.", "stop: Stopping...", "stop: Stopped."})
            QVERIFY2(run.err.contains(QLatin1String(line)), line);

        const Run show = winsteps({"machine", "show", machine, "--json"}, false);
        QCOMPARE(show.exitCode, 0);
        QJsonObject service;
        for (const QJsonValue& entry : QJsonDocument::fromJson(show.out.toUtf8())["services"].toArray()) {
            if (entry["name"].toString() == QLatin1String("DemoSuiteSvc"))
                service = entry.toObject();
        }
        QCOMPARE(service["displayName"].toString(), QStringLiteral("Demo Suite Service"));
        QCOMPARE(service["status"].toString(), QStringLiteral("stopped"));
        QCOMPARE(service["startType"].toString(), QStringLiteral("auto"));
        QCOMPARE(service["imagePath"].toString(), QStringLiteral("C:\\Program Files\\Demo Suite\\demosvc.exe"));
    }

    // The component example on Windows 98: the engine's redistributable runs and asks for a
    // restart, the control is copied and registered; the new engine is in place only after the
    // restart (the machine's side of it is tst_tools' instmsia rows), and a second run then
    // finds both and changes nothing.
    void componentsExample()
    {
        const QString machine = m_dir.filePath("components");
        QCOMPARE(winsteps({"machine", "init", machine, "--profile", "win98"}, false).exitCode, 0);
        const QStringList run{"run", Example + "components.xml", "--machine", machine, "--set", "fsm.sourceDir=" + Example + "components"};
        const QStringList prepared{"welcome:finished", "copySetup:success"};

        const Run first = winsteps(run);
        QVERIFY2(first.exitCode == 0, qPrintable(first.err));
        const QStringList installed{"engine:needReboot", "check:notInstalled", "install:success", "verify:installed", "done:finished"};
        QCOMPARE(stepTexts(first.report["steps"].toArray()), prepared + installed);
        QCOMPARE(first.report["machine"]["properties"]["restart"]["value"].toString(), QStringLiteral("required"));
        QVERIFY(first.err.contains("Microsoft Installer version 1.10 detected."));
        const Run classes = winsteps({"machine", "export-reg", machine, "HKEY_CLASSES_ROOT\\DemoSuite.Catalogue"}, false);
        QVERIFY2(classes.out.contains("@=\"{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}\""), qPrintable(classes.out));

        QCOMPARE(winsteps({"machine", "reboot", machine}, false).exitCode, 0);
        const Run second = winsteps(run);
        QVERIFY2(second.exitCode == 0, qPrintable(second.err));
        const QStringList unchanged{"engine:finished", "check:installed", "done:finished"};
        QCOMPARE(stepTexts(second.report["steps"].toArray()), prepared + unchanged);
        QCOMPARE(second.report["machine"]["properties"]["restart"]["value"].toString(), QStringLiteral("not needed"));
        QVERIFY(second.err.contains("Microsoft Installer version 2.0 detected."));
    }

    // The firewall example on Windows XP SP2: the program is authorised where the firewall
    // keeps its list, and both ports are mapped and enabled on the firewalled LAN connection.
    void firewallExample()
    {
        const QString machine = m_dir.filePath("firewall");
        const Run run = winsteps({"run", Example + "firewall.xml", "--machine", machine});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(stepTexts(run.report["steps"].toArray()), QStringList({"authorise:success", "done:finished"}));
        const Run list = winsteps({"machine", "export-reg", machine,
                                   "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\"
                                   "StandardProfile\\AuthorizedApplications\\List"}, false);
        QVERIFY2(list.out.contains(R"("C:\\Program Files\\Demo Suite\\demoserver.exe"="C:\\Program Files\\Demo Suite\\demoserver.exe:*:Enabled:Demo Suite Server")"),
                 qPrintable(list.out));

        const QJsonObject shown = QJsonDocument::fromJson(winsteps({"machine", "show", machine, "--json"}, false).out.toUtf8()).object();
        const QJsonArray applications = shown["firewall"]["authorizedApplications"].toArray();
        QCOMPARE(applications.size(), 1);
        QCOMPARE(applications[0]["name"].toString(), QStringLiteral("Demo Suite Server"));
        QVERIFY(applications[0]["enabled"].toBool());
        QStringList mappings;
        for (const QJsonValue& connection : shown["connections"].toArray()) {
            for (const QJsonValue& mapping : connection["mappings"].toArray())
                mappings << QStringLiteral("%1 %2 %3->%4:%5 %6")
                                .arg(connection["name"].toString(), mapping["protocol"].toString())
                                .arg(mapping["externalPort"].toInt())
                                .arg(mapping["target"].toString())
                                .arg(mapping["internalPort"].toInt())
                                .arg(mapping["enabled"].toBool() ? "enabled" : "disabled");
        }
        QCOMPARE(mappings, QStringList({"Local Area Connection tcp 8080->192.168.0.10:8080 enabled",
                                        "Local Area Connection udp 5353->192.168.0.10:5353 enabled"}));
    }

    // The driver example on Windows XP SP2 with a network adapter and a USB stick plugged in:
    // the check finds no driver, the package is staged and bound to the adapter, the check then
    // finds it installed, and the stick's drive letter is found once its volume has mounted.
    void driversExample()
    {
        const QString machine = m_dir.filePath("drivers");
        const QString files = Example + "drivers/";
        QCOMPARE(winsteps({"machine", "init", machine}, false).exitCode, 0);
        for (const char* device : {"adapter.json", "stick.json"})
            QCOMPARE(winsteps({"machine", "plug", machine, files + device}, false).exitCode, 0);
        const Run run = winsteps({"run", Example + "drivers.xml", "--machine", machine, "--set", "fsm.sourceDir=" + files});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(stepTexts(run.report["steps"].toArray()),
                 QStringList({"welcome:finished", "copyDrivers:success", "before:nothingInstalled", "install:success",
                              "after:allInstalled", "stick:finished", "done:finished"}));
        QCOMPARE(run.report["machine"]["properties"]["stickDrive"]["value"].toString(), QStringLiteral("E:\\"));

        const QJsonObject shown = QJsonDocument::fromJson(winsteps({"machine", "show", machine, "--json"}, false).out.toUtf8()).object();
        QJsonObject adapter;
        for (const QJsonValue& device : shown["devices"].toArray()) {
            if (device["instanceId"].toString().startsWith(QLatin1String("PCI\\VEN_1D0E&DEV_0001")))
                adapter = device.toObject();
        }
        QCOMPARE(adapter["description"].toString(), QStringLiteral("Demo Suite Ethernet Adapter"));
        QCOMPARE(adapter["service"].toString(), QStringLiteral("demonet"));
        QCOMPARE(adapter["problem"].toInt(), 0);
        QVERIFY(adapter["driver"].toString().startsWith(QLatin1String("{4D36E972-E325-11CE-BFC1-08002BE10318}\\")));
        QCOMPARE(shown["driverPackages"][0]["name"].toString(), QStringLiteral("oem0.inf"));
        QCOMPARE(shown["driverPackages"][0]["provider"].toString(), QStringLiteral("Example Software"));
    }

    // The action reads its own properties (filtered by system, each traced); after the run
    // the state answers with the action's: the command line as run and the exit code.
    void actionStatesReadTheirOwnProperties()
    {
        const QString tracePath = m_dir.filePath("action.log");
        const Run run = winsteps({"run", QStringLiteral(DATA_DIR "/actionproperties.xml"), "--trace", tracePath});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const QString trace = readText(tracePath);
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

    void types()
    {
        const Run json = winsteps({"types", "--json"}, false);
        QCOMPARE(json.exitCode, 0);
        QCOMPARE(json.err, QString()); // the states made to list the types trace nothing
        const QJsonArray factories = QJsonDocument::fromJson(json.out.toUtf8())["factories"].toArray();
        QCOMPARE(factories.size(), 2);
        QCOMPARE(factories[0]["name"].toString(), QStringLiteral("host"));
        QCOMPARE(factories[1]["name"].toString(), QStringLiteral("win"));
        const QJsonArray hostTypes = factories[0]["types"].toArray();
        const auto found = std::find_if(hostTypes.begin(), hostTypes.end(), [](const QJsonValue& t) { return t["type"] == "noop"; });
        QVERIFY(found != hostTypes.end());
        const QJsonValue noop = *found;
        QCOMPARE(noop["events"].toArray(), QJsonArray{"finished"});
        QCOMPARE(noop["required"].toArray(), QJsonArray());
        // Every type of the plug-in can be made without a description, and lists the
        // properties it requires.
        QJsonValue required;
        for (const QJsonValue& type : factories[1]["types"].toArray()) {
            QVERIFY2(!type["class"].toString().isEmpty(), qPrintable(type["type"].toString()));
            if (type["type"] == "readRegkey")
                required = type["required"];
        }
        QCOMPARE(required.toArray(), (QJsonArray{"path", "key"}));
    }

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

QTEST_MAIN(TstHost)
#include "tst_host.moc"
