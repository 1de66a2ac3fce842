// The emulated firewall and connection sharing beyond what Windows itself promises: what the
// profiles say about them (and the mistakes refused), the authorised list's registry entries,
// and connections and mappings shared with other processes on the machine folder.

#include "platform/emulated/emulatedmachine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "support/freshmachine.h"
#include "support/registryvalues.h"

using namespace winsteps::platform;
using namespace winsteps::platform::emulated;

namespace {

const QString listKey = QString::fromLatin1(firewallListKey).replace(QLatin1String("\\"), QLatin1String("\\\\"));

// A profile on winxp-sp2 with the JSON items given (without their braces).
QByteArray profileText(const QString& items)
{
    return QStringLiteral(R"({"inherits": "winxp-sp2"%1%2})").arg(items.isEmpty() ? QString() : QStringLiteral(", "), items).toUtf8();
}

MachineProfile parsed(const QString& items)
{
    MachineProfile profile;
    QString error;
    if (!profile.parse(profileText(items), QStringLiteral("test"), &error))
        qWarning("%s", qPrintable(error));
    return profile;
}

} // namespace

class TestNetwork : public QObject {
    Q_OBJECT

private slots:
    void builtinProfiles_data();
    void builtinProfiles();
    void declaredConnections();
    void listEntriesAreParsed_data();
    void listEntriesAreParsed();
    void authorisedListInTheRegistry();
    void connectionsAreSharedWithOtherProcesses();

private:
    std::unique_ptr<EmulatedMachine> machine(const QString& items)
    {
        return testsupport::freshMachine(m_dir, QString::fromUtf8(profileText(items)));
    }

    QTemporaryDir m_dir;
};

void TestNetwork::builtinProfiles_data()
{
    // Which profiles have the firewall manager is a contract case; their connections are not.
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("sharing");
    QTest::addColumn<bool>("firewalled"); // its one LAN connection
    QTest::newRow("win2000") << "win2000" << false << false;
    QTest::newRow("winxp-sp1") << "winxp-sp1" << true << false;
    QTest::newRow("winxp-sp2") << "winxp-sp2" << true << true;
    QTest::newRow("win2003 (SP1)") << "win2003" << true << true;
    QTest::newRow("vista-x64") << "vista-x64" << true << true;
}

void TestNetwork::builtinProfiles()
{
    QFETCH(QString, name);
    QFETCH(bool, sharing);
    QFETCH(bool, firewalled);
    MachineProfile profile;
    QVERIFY(profile.load(name, nullptr));
    QCOMPARE(hasConnectionSharing(profile), sharing);
    const NetworkState state = initialNetwork(profile);
    QCOMPARE(state.connections.size(), sharing ? 1 : 0);
    if (sharing) {
        const ConnectionRecord& lan = state.connections.first();
        QCOMPARE(lan.name, QStringLiteral("Local Area Connection"));
        QCOMPARE(lan.mediaType, NCM_LAN);
        QCOMPARE(lan.status, NCS_CONNECTED);
        QCOMPARE(lan.firewall, firewalled);
    }
}

void TestNetwork::declaredConnections()
{
    // The default connection changed item by item, or taken away; the system's flags given.
    const NetworkState changed = initialNetwork(parsed(QStringLiteral(R"("connections": {"local area connection":
        {"firewall": false, "mappings": [{"name": "A", "externalPort": 1, "internalPort": 2, "target": "h", "targetType": "name",
          "protocol": "udp", "enabled": false}, {"name": "B", "externalPort": 1, "internalPort": 2, "target": "10.0.0.1"}]},
        "Phone": {"type": "dialup", "guid": "{00000000-0000-0000-0000-00000000000a}", "status": "connected"}})")));
    QCOMPARE(changed.connections.size(), 2);
    const ConnectionRecord& lan = changed.connections.at(0);
    QCOMPARE(lan.name, QStringLiteral("local area connection"));
    QVERIFY(!lan.firewall);
    QCOMPARE(lan.mappings.size(), 2);
    const PortMappingRecord& a = lan.mappings.at(0);
    QCOMPARE(a.protocol, NAT_PROTOCOL_UDP);
    QCOMPARE(a.targetType, ICSTT_NAME);
    QVERIFY(!a.enabled && lan.mappings.at(1).enabled);
    QVERIFY(a.id != lan.mappings.at(1).id);
    const ConnectionRecord& phone = changed.connections.at(1);
    QCOMPARE(phone.guid, QStringLiteral("{00000000-0000-0000-0000-00000000000A}"));
    QCOMPARE(phone.mediaType, NCM_PHONE);
    QCOMPARE(phone.status, NCS_CONNECTED);
    QVERIFY(phone.firewall);

    QVERIFY(initialNetwork(parsed(QStringLiteral(R"("connections": {"Local Area Connection": null})"))).connections.isEmpty());
    const MachineProfile without = parsed(QStringLiteral(R"("firewall": {"manager": false, "sharing": false})"));
    QVERIFY(!hasFirewallManager(without));
    QVERIFY(initialNetwork(without).connections.isEmpty());
}

void TestNetwork::listEntriesAreParsed_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("scope");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("name");
    QTest::newRow("enabled") << "C:\\a b\\app.exe:*:Enabled:App" << true << "*" << true << "App";
    QTest::newRow("other case of the path") << "c:\\A B\\APP.EXE:LocalSubNet:disabled:x" << true << "LocalSubNet" << false << "x";
    QTest::newRow("colon in the name") << "C:\\a b\\app.exe:*:Enabled:App: the tool" << true << "*" << true
                                       << "App: the tool";
    QTest::newRow("path not repeated") << "C:\\other.exe:*:Enabled:App" << true << "*" << true << "App";
    QTest::newRow("no state") << "C:\\a b\\app.exe:*:On:App" << false << "" << false << "";
    QTest::newRow("empty") << "" << false << "" << false << "";
}

void TestNetwork::listEntriesAreParsed()
{
    QFETCH(QString, data);
    QFETCH(bool, ok);
    EmulatedFirewall::Application entry;
    QCOMPARE(EmulatedFirewall::parseEntry(QStringLiteral("C:\\a b\\app.exe"), data, &entry), ok);
    if (ok) {
        QCOMPARE(entry.path, QStringLiteral("C:\\a b\\app.exe"));
        QTEST(entry.scope, "scope");
        QTEST(entry.enabled, "enabled");
        QTEST(entry.name, "name");
    }
}

void TestNetwork::authorisedListInTheRegistry()
{
    const QString staged = QStringLiteral(R"("registry": {"HKLM\\%1": {"C:\\Old.exe": "C:\\Old.exe:*:Disabled:Old",
        "C:\\Junk.exe": "no entry"}, "HKLM\\%2": {"EnableFirewall": 0}})")
                               .arg(listKey, QString::fromLatin1(firewallProfileKey).replace(QLatin1String("\\"), QLatin1String("\\\\")));
    for (const bool administrator : {true, false}) {
        auto m = machine(staged + (administrator ? QString() : QStringLiteral(R"(, "administrator": false)")));
        QVERIFY(m);
        QVERIFY(SUCCEEDED(m->system().coInitialize()));
        std::shared_ptr<FwMgr> manager;
        std::shared_ptr<FwPolicy> policy;
        std::shared_ptr<FwProfile> profile;
        std::shared_ptr<FwAuthorizedApplications> list;
        std::shared_ptr<FwAuthorizedApplication> item;
        QCOMPARE(m->firewall().createManager(&manager), S_OK);
        QCOMPARE(manager->localPolicy(&policy), S_OK);
        QCOMPARE(policy->currentProfile(&profile), S_OK);
        QCOMPARE(profile->authorizedApplications(&list), S_OK);
        VARIANT_BOOL on = VARIANT_TRUE;
        QCOMPARE(profile->firewallEnabled(&on), S_OK);
        QCOMPARE(on, VARIANT_FALSE);
        QCOMPARE(list->item("c:\\old.exe", &item), S_OK);
        QCOMPARE(item->enabled(&on), S_OK);
        QCOMPARE(on, VARIANT_FALSE);
        QCOMPARE(list->item("C:\\Junk.exe", &item), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        // Adding again enables it, written as Windows writes an entry; only an administrator may.
        const HRESULT changed = administrator ? S_OK : E_ACCESSDENIED;
        QCOMPARE(list->add("C:\\Old.exe", "Old again"), changed);
        QCOMPARE(list->add("C:\\New.exe", ""), E_INVALIDARG);
        const QByteArray data = testsupport::value(m->registry(), HKEY_LOCAL_MACHINE, firewallListKey, "C:\\Old.exe");
        QCOMPARE(QByteArray(data.constData()),
                 QByteArray(administrator ? "C:\\Old.exe:*:Enabled:Old again" : "C:\\Old.exe:*:Disabled:Old"));
        QCOMPARE(list->remove("C:\\OLD.EXE"), changed);
        QCOMPARE(m->firewall().applications().size(), administrator ? 0 : 1);
        m->system().coUninitialize();
    }
}

void TestNetwork::connectionsAreSharedWithOtherProcesses()
{
    auto m = machine(QStringLiteral(R"("connections": {"Phone": {"type": "dialup"}})"));
    QVERIFY(m);
    std::shared_ptr<NetSharingManager> sharing;
    QCOMPARE(m->netSharing().createManager(&sharing), CO_E_NOTINITIALIZED);
    QVERIFY(SUCCEEDED(m->system().coInitialize()));
    QCOMPARE(m->netSharing().createManager(&sharing), S_OK);
    std::vector<std::shared_ptr<NetConnection>> connections;
    QCOMPARE(sharing->everyConnection(&connections), S_OK);
    QCOMPARE(connections.size(), std::size_t(2));
    const std::shared_ptr<NetConnection>& lan = connections.at(0);
    const std::shared_ptr<NetConnection>& phone = connections.at(1);
    QCOMPARE(lan->deleteConnection(), E_ACCESSDENIED);
    QCOMPARE(phone->rename("local area CONNECTION"), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    QCOMPARE(phone->rename(" "), E_INVALIDARG);
    std::shared_ptr<NetSharingConfiguration> configuration;
    std::shared_ptr<NetSharingPortMapping> mapping;
    QCOMPARE(sharing->sharingConfiguration(lan, &configuration), S_OK);
    QCOMPARE(configuration->disableInternetFirewall(), S_OK);
    QCOMPARE(configuration->addPortMapping("Web", NAT_PROTOCOL_TCP, 80, 8080, 0, "10.0.0.2", ICSTT_IPADDRESS, &mapping), S_OK);
    QCOMPARE(mapping->enable(), S_OK);
    QCOMPARE(phone->deleteConnection(), S_OK);

    // Another process sees what this one did.
    QProcess show;
    show.start(QStringLiteral(WINSTEPS_EXE), {QStringLiteral("machine"), QStringLiteral("show"), m->folder(), QStringLiteral("--json")});
    QVERIFY(show.waitForFinished(30000));
    const QJsonArray shown = QJsonDocument::fromJson(show.readAllStandardOutput()).object().value(QStringLiteral("connections")).toArray();
    QCOMPARE(shown.size(), 1);
    const QJsonObject connection = shown.at(0).toObject();
    QCOMPARE(connection.value(QStringLiteral("firewall")).toBool(true), false);
    QCOMPARE(QJsonDocument(connection.value(QStringLiteral("mappings")).toArray()).toJson(QJsonDocument::Compact),
             QByteArray(R"([{"enabled":true,"externalPort":80,"internalPort":8080,"name":"Web","protocol":"tcp","target":"10.0.0.2","targetType":"ip"}])"));

    // And this one sees what another did: the mapping deleted there is gone here.
    QString error;
    auto other = EmulatedMachine::openExisting(m->folder(), &error);
    QVERIFY2(other, qPrintable(error));
    QCOMPARE(other->netSharing().connections().first().mappings.size(), 1);
    other->netSharing().access(true, [](NetworkState& state) {
        state.connections.first().mappings.clear();
        return S_OK;
    });
    PortMappingProps props;
    QCOMPARE(mapping->properties(&props), RPC_E_DISCONNECTED);
    QCOMPARE(phone->connect(), RPC_E_DISCONNECTED);
    m->system().coUninitialize();
}

QTEST_GUILESS_MAIN(TestNetwork)
#include "tst_network.moc"
