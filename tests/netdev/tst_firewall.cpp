// CFirewall, the port requests, the port check and "configFirewall", each case on a fresh
// emulated machine whose profile stages the authorised list, the connections and their
// mappings.

#include "actions/cactionstate.h"
#include "fsm/cstatefactory.h"
#include "netdev/cactioncheckfirewall.h"
#include "netdev/cfirewall.h"
#include "netdev/cnetsharing.h"
#include "platform/registry.h"
#include "system/ccominit.h"

#include <QDomDocument>
#include <QPoint>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "support/freshmachine.h"
#include "support/pluginstates.h"
#include "support/tracecapture.h"

#include <memory>

using namespace winsteps::platform;

namespace {

const char* const listKey = "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\"
                            "StandardProfile\\AuthorizedApplications\\List";

// A profile inheriting base, with the authorised list's values (JSON members) and the
// connections (a JSON object's members) staged.
QString profile(const QString& base, const QString& list = QString(), const QString& connections = QString())
{
    QString json = QStringLiteral(R"({"inherits": "%1")").arg(base);
    if (!list.isEmpty())
        json += QStringLiteral(R"(, "registry": {"HKLM\\%1": {%2}})").arg(QString::fromLatin1(listKey).replace(QLatin1String("\\"), QLatin1String("\\\\")), list);
    if (!connections.isEmpty())
        json += QStringLiteral(R"(, "connections": {%1})").arg(connections);
    return json + QLatin1Char('}');
}

// The data of every value of the authorised list, in order.
QStringList authorisedList()
{
    QStringList out;
    HKEY key = HKEY_NULL;
    if (registry().regOpenKeyEx(HKEY_LOCAL_MACHINE, listKey, KEY_READ, &key) != ERROR_SUCCESS)
        return out;
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; registry().regEnumValue(key, i, &name, &type, &data) == ERROR_SUCCESS; ++i)
        out << QString::fromUtf8(reinterpret_cast<const char*>(data.data()), qsizetype(data.size())).section(QChar(0), 0, 0);
    registry().regCloseKey(key);
    return out;
}

// "CONNECTION|NAME|PROTOCOL|EXTERNAL|INTERNAL|TARGET|on/off" of every mapping, read through
// the wrappers.
QStringList mappings()
{
    const CComInit com;
    const CNetSharingManager manager;
    QStringList out;
    const QList<CNetConnection> connections = manager.connections();
    for (const CNetConnection& connection : connections) {
        const QList<CPortMap> list = connection.portMappings();
        for (const CPortMap& m : list)
            out << QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
                       .arg(connection.name(), m.name())
                       .arg(m.protocol())
                       .arg(m.externalPort())
                       .arg(m.internalPort())
                       .arg(m.targetIpAddress(), m.enabled() ? "on" : "off");
    }
    return out;
}

QString request(const CPortMapContainer& r)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6")
        .arg(r.description())
        .arg(r.protocol())
        .arg(r.internalPort())
        .arg(r.externalPort())
        .arg(r.targetAddress())
        .arg(r.open());
}

} // namespace

class TstFirewall : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { m_factory.reset(createFactory(nullptr)); }

    void portRequests_data()
    {
        QTest::addColumn<QStringList>("properties");
        QTest::addColumn<QStringList>("requests"); // description|protocol|internal|external|target|open

        QTest::newRow("no description, no request") << QStringList{"protocol=udp", "extPort=80"} << QStringList();
        QTest::newRow("a missing protocol entry reads tcp")
            << QStringList{"description=a;b", "protocol=udp"} << QStringList{"a|17|0|0|127.0.0.1|1", "b|6|0|0|127.0.0.1|1"};
        QTest::newRow("protocols in any case, others 0") << QStringList{"description=a;b;c", "protocol=TCP; Udp ;icmp"}
                                                         << QStringList{"a|6|0|0|127.0.0.1|1", "b|17|0|0|127.0.0.1|1", "c|0|0|0|127.0.0.1|1"};
        QTest::newRow("0, false and FALSE close, anything else opens")
            << QStringList{"description=a;b;c;d;e", "open=0; false ;FALSE;no;1"}
            << QStringList{"a|6|0|0|127.0.0.1|0", "b|6|0|0|127.0.0.1|0", "c|6|0|0|127.0.0.1|0", "d|6|0|0|127.0.0.1|1", "e|6|0|0|127.0.0.1|1"};
        QTest::newRow("ports 0 and 65535 and no number read 0, 65534 stays")
            << QStringList{"description=a;b;c;d", "intPort=0;65535;65534;x", "extPort=65535; 80 ;1;99999"}
            << QStringList{"a|6|0|0|127.0.0.1|1", "b|6|0|80|127.0.0.1|1", "c|6|65534|1|127.0.0.1|1", "d|6|0|0|127.0.0.1|1"};
        QTest::newRow("localhost is no literal; IPv4 and IPv6 literals stay")
            << QStringList{"description=a;b;c", "targetIp=localhost; 192.168.1.10 ;fe80::2a"}
            << QStringList{"a|6|0|0|127.0.0.1|1", "b|6|0|0|192.168.1.10|1", "c|6|0|0|fe80::2a|1"};
        QTest::newRow("empty entries are dropped, blank descriptions skipped")
            << QStringList{"description= web ;; ;dns", "protocol=;udp;tcp;udp", "extPort=80"}
            << QStringList{"web|17|0|80|127.0.0.1|1", "dns|17|0|0|127.0.0.1|1"};
    }

    void portRequests()
    {
        QFETCH(QStringList, properties);
        QFETCH(QStringList, requests);
        machine(QStringLiteral("winxp-sp2"));
        const std::unique_ptr<CActionState> state = create(properties);
        auto* action = qobject_cast<CActionCheckFirewall*>(state->action());
        QVERIFY(action);
        QCOMPARE(action->objectName(), QStringLiteral("actionCheckFirewall"));
        QStringList read;
        for (const CPortMapContainer& r : action->portRequests())
            read << request(r);
        QCOMPARE(read, requests);
    }

    void firewall_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("comFirst"); // the test has started COM on the thread before
        QTest::addColumn<QString>("call");  // add PATH|NAME, remove PATH
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("lines"); // without "CFirewall::"
        QTest::addColumn<QStringList>("list"); // afterwards

        const QString app = QStringLiteral(R"("C:\\app.exe": "C:\\app.exe:*:%1:App")");
        const QString comStarted = QStringLiteral("CFirewall: COM initialized by this class instance.");
        const QString notSp2 = QStringLiteral("CFirewall: It is NOT Windows XP SP2 and higher OS.");
        const QString absent = QStringLiteral("IsFirewallAppEnabled: Authorized application C:\\app.exe is disabled in the firewall.");
        const QString added = QStringLiteral("addApplication: Authorized application C:\\app.exe is now enabled in the firewall ");
        const QStringList enabledList{"C:\\app.exe:*:Enabled:App"};

        QTest::newRow("XP SP1: no COM call") << profile("winxp-sp1") << false << "add C:\\app.exe|App" << false
                                             << QStringList{notSp2, "addApplication: Instance is not initialized."} << QStringList();
        QTest::newRow("2003 without SP1: no COM call")
            << R"({"inherits": "win2003", "os": {"servicePack": "", "servicePackMajor": 0}})" << false << "remove C:\\app.exe" << false
            << QStringList{notSp2, "removeApplication: Instance is not initialized."} << QStringList();
        for (const char* system : {"winxp-sp2", "win2003", "vista"})
            QTest::addRow("%s: add new", system) << profile(system) << false << "add C:\\app.exe|App" << true
                                                 << QStringList{comStarted, absent, added} << enabledList;
        // Neither the constructor nor the destructor may leave an unbalanced call: COM stays the test's.
        QTest::newRow("COM already started: used, left as it was")
            << profile("winxp-sp2") << true << "add C:\\app.exe|App" << true
            << QStringList{"CFirewall: COM initialized by another application class instance.", absent, added} << enabledList;
        QTest::newRow("add existing enabled (path in another case)")
            << profile("winxp-sp2", app.arg("Enabled")) << false << "add c:\\APP.exe|Other" << false
            << QStringList{comStarted, "IsFirewallAppEnabled: Authorized application c:\\APP.exe is enabled in the firewall."} << enabledList;
        QTest::newRow("add existing disabled re-enables it")
            << profile("winxp-sp2", app.arg("Disabled")) << false << "add C:\\app.exe|App" << true
            << QStringList{comStarted, absent, added} << enabledList;
        QTest::newRow("remove present") << profile("winxp-sp2", app.arg("Enabled")) << false << "remove C:\\APP.EXE" << true
                                        << QStringList{comStarted} << QStringList();
        QTest::newRow("remove absent") << profile("winxp-sp2") << false << "remove C:\\app.exe" << false
                                       << QStringList{comStarted, "removeApplication: Remove failed with error -2147024894"} << QStringList();
        QTest::newRow("add an empty path") << profile("winxp-sp2") << false << "add |App" << false
                                           << QStringList{comStarted, "addApplication: A full aplication path is not specified."} << QStringList();
        QTest::newRow("add an empty name") << profile("winxp-sp2") << false << "add C:\\app.exe|" << false
                                           << QStringList{comStarted, "addApplication: A file friendly name is not specified."} << QStringList();
        QTest::newRow("remove an empty path") << profile("winxp-sp2", app.arg("Enabled")) << false << "remove " << false
                                              << QStringList{comStarted, "removeApplication: appFullPathName is not specified."} << enabledList;
    }

    void firewall()
    {
        QFETCH(QString, source);
        QFETCH(bool, comFirst);
        QFETCH(QString, call);
        QFETCH(bool, result);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, list);
        machine(source);
        QVERIFY(!comFirst || system().coInitialize() == S_OK);
        TraceCapture traces;
        {
            CFirewall firewall;
            QCOMPARE(firewall.isInitialized(), CFirewall::isSupportedSystem());
            const QString argument = call.section(QLatin1Char(' '), 1);
            const bool done = call.startsWith(QLatin1String("add"))
                ? firewall.addApplication(argument.section(QLatin1Char('|'), 0, 0), argument.section(QLatin1Char('|'), 1))
                : firewall.removeApplication(argument);
            QCOMPARE(done, result);
        }
        QStringList written = traces.lines(winsteps::module::CFirewall);
        for (QString& line : written)
            line.remove(0, int(qstrlen("CFirewall::")));
        QCOMPARE(written, lines);
        QCOMPARE(authorisedList(), list);
        if (comFirst) { // still started once: the test's own end is the last
            QCOMPARE(system().coInitialize(), S_FALSE);
            system().coUninitialize();
            system().coUninitialize();
        }
        // COM is ended with the object that started it: the thread starts afresh.
        QCOMPARE(system().coInitialize(), S_OK);
        system().coUninitialize();
    }

    void configFirewall_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("properties");
        QTest::addColumn<QStringList>("lines"); // the state's ("sysTasks")
        QTest::addColumn<QStringList>("after"); // the mappings, see mappings()
        QTest::addColumn<QPoint>("progress");   // (progress, maximum) of the port check

        const QStringList add{"fullApplicationPath=%WINDIR%\\app.exe", "friendlyName=App"};
        const QString adding = QStringLiteral("Add application to XP firewall: C:\\WINDOWS\\app.exe - friendly name: App");
        const QString finished = QStringLiteral("--- State step: actionFinished - result = 0");
        const QStringList noApp{"Add application to XP firewall:  - friendly name: ", " ! Warning ! Adding application failed."};
        const QStringList ports{"description=web;dns", "protocol=tcp;udp", "intPort=80;53", "extPort=8080;53",
                                "targetIp=192.168.0.5;192.168.0.5"};
        const QString lan = QStringLiteral(R"("Local Area Connection": {"mappings": [%1]})");
        const QString web = QStringLiteral(R"({"name": "%1", "externalPort": 8080, "internalPort": 80, "target": "%2", "enabled": %3})");

        QTest::newRow("XP SP1: no firewall step, no port check") << profile("winxp-sp1") << add << QStringList() << QStringList() << QPoint(0, 5);
        QTest::newRow("add once, then the warning")
            << profile("winxp-sp2", R"("C:\\WINDOWS\\app.exe": "C:\\WINDOWS\\app.exe:*:Enabled:App")") << add
            << QStringList{adding, " ! Warning ! Adding application failed."} << QStringList() << QPoint(0, 5);
        QTest::newRow("remove an absent one: the warning")
            << profile("winxp-sp2") << QStringList{"fullApplicationPath=C:\\app.exe", "remove=yes"}
            << QStringList{"Remove application from XP firewall: C:\\app.exe", " ! Warning ! Removing application failed."}
            << QStringList() << QPoint(0, 5);
        QTest::newRow("XP SP1: the port check still runs")
            << profile("winxp-sp1", QString(), R"("Local Area Connection": {"firewall": true})") << ports << QStringList{finished}
            << QStringList{"Local Area Connection|web|6|8080|80|192.168.0.5|on", "Local Area Connection|dns|17|53|53|192.168.0.5|on"}
            << QPoint(2, 2);
        QTest::newRow("add and open two ports") << profile("winxp-sp2") << add + ports << QStringList{adding, finished}
            << QStringList{"Local Area Connection|web|6|8080|80|192.168.0.5|on", "Local Area Connection|dns|17|53|53|192.168.0.5|on"}
            << QPoint(2, 2);
        // One mapping per protocol and external port on a connection, so several matches lie on
        // several LAN connections (a wireless one is a LAN too).
        QTest::newRow("every match brought into line, others left")
            << profile("winxp-sp2", QString(),
                       lan.arg(web.arg("a", "192.168.0.5", "false") + R"(, {"name": "d", "protocol": "udp", "externalPort": 8080, "internalPort": 80, "target": "192.168.0.5", "enabled": false})")
                           + R"(, "Wireless": {"type": "wireless", "mappings": [)" + web.arg("b", "192.168.0.5", "false")
                           + R"(]}, "Office": {"mappings": [)" + web.arg("c", "192.168.0.6", "false") + "]}")
            << QStringList{"description=x", "extPort=8080", "intPort=80", "targetIp=192.168.0.5"} << noApp + QStringList{finished}
            << QStringList{"Local Area Connection|a|6|8080|80|192.168.0.5|on", "Local Area Connection|d|17|8080|80|192.168.0.5|off",
                           "Office|c|6|8080|80|192.168.0.6|off", "Wireless|b|6|8080|80|192.168.0.5|on"}
            << QPoint(3, 3);
        QTest::newRow("close: matches disabled, an absent one not added")
            << profile("winxp-sp2", QString(), lan.arg(web.arg("a", "192.168.0.5", "true")))
            << QStringList{"description=x;y", "extPort=8080;9090", "intPort=80;90", "targetIp=192.168.0.5;192.168.0.5", "open=false;0"}
            << noApp + QStringList{finished} << QStringList{"Local Area Connection|a|6|8080|80|192.168.0.5|off"} << QPoint(2, 2);
        QTest::newRow("open: enabled stays, a port of 0 or 65535 not added")
            << profile("winxp-sp2", QString(), lan.arg(web.arg("a", "192.168.0.5", "true")))
            << QStringList{"description=x;y;z", "extPort=8080;0;65535", "intPort=80;90;90", "targetIp=192.168.0.5"}
            << noApp + QStringList{finished} << QStringList{"Local Area Connection|a|6|8080|80|192.168.0.5|on"} << QPoint(3, 3);
        QTest::newRow("no firewalled LAN: the maximum, no steps")
            << profile("winxp-sp2", QString(), R"("Local Area Connection": {"firewall": false}, "Dial-up": {"type": "dialup", "firewall": true})")
            << ports << noApp + QStringList{finished} << QStringList() << QPoint(0, 4);
        QTest::newRow("9x: no sharing, no steps") << profile("win98") << add + ports << QStringList{finished} << QStringList() << QPoint(0, 5);
    }

    void configFirewall()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, properties);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, after);
        QFETCH(QPoint, progress);
        machine(source);
        TraceCapture traces;
        const std::unique_ptr<CActionState> state = create(properties);
        QSignalSpy finished(state.get(), &CState::finished);
        state->execute();
        QVERIFY(finished.wait(20000));
        QCOMPARE(state->exitEvent(), QStringLiteral("success"));
        QCOMPARE(traces.lines(winsteps::module::sysTasks), lines);
        QCOMPARE(mappings(), after);
        QCOMPARE(QPoint(state->action()->progress(), state->action()->maxProgress()), progress);
    }

private:
    void machine(const QString& source)
    {
        std::string error;
        QVERIFY2(!testsupport::openFreshMachine(m_dir, source, &error).isEmpty(), error.c_str());
    }

    // A "configFirewall" state with "key=value" properties as its XML description declares them.
    std::unique_ptr<CActionState> create(const QStringList& properties)
    {
        return std::unique_ptr<CActionState>(qobject_cast<CActionState*>(
            testsupport::createState(*m_factory, QStringLiteral("configFirewall"), properties).release()));
    }

    QTemporaryDir m_dir;
    std::unique_ptr<CStateFactory> m_factory;
};

QTEST_GUILESS_MAIN(TstFirewall)
#include "tst_firewall.moc"
