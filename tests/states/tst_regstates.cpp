// The registry access layer and the registry-based states, each on fresh emulated machines
// from the built-in profiles.

#include "fsm/cstatefactory.h"
#include "platform/emulated/emulatedmachine.h"
#include "states/registrykey.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "support/files.h"
#include "support/freshmachine.h"
#include "support/pluginstates.h"
#include "support/registryvalues.h"

#include <memory>

using namespace winsteps;
using namespace winsteps::platform;
using emulated::EmulatedMachine;

namespace {

const QString RunKey = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString RunOnceKey = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce");
const QString UninstallKey = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
const QString ProxyKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");

HKEY root(const QString& name)
{
    return name == QLatin1String("HKLM") ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The value as "TYPE:text" (strings, dwords, lists joined by "|"), or "-" when missing.
QString stored(HKEY hive, const QString& path, const QString& name)
{
    std::uint32_t type = 0;
    QByteArray data = testsupport::value(platform::registry(), hive, path.toStdString(), name.toStdString(), &type, KEY_READ | KEY_WOW64_64KEY);
    if (data.isNull())
        return QStringLiteral("-");
    if (type == REG_DWORD)
        return QStringLiteral("DWORD:%1").arg(quint32(quint8(data[0]) | quint8(data[1]) << 8 | quint8(data[2]) << 16 | quint8(data[3]) << 24));
    data.chop(type == REG_MULTI_SZ ? 2 : 1);
    return (type == REG_MULTI_SZ ? QStringLiteral("MULTI:") : QStringLiteral("SZ:")) + QString::fromUtf8(data).replace(QChar(0), QLatin1Char('|'));
}

// Sets a value by "TYPE:text" as stored() shows it (or "EXPAND:text"), creating the key.
void put(HKEY hive, const QString& path, const QString& name, const QString& typed)
{
    const QString kind = typed.section(QLatin1Char(':'), 0, 0);
    const QString text = typed.section(QLatin1Char(':'), 1);
    std::uint32_t type = kind == QLatin1String("EXPAND") ? REG_EXPAND_SZ : REG_SZ;
    QByteArray data = testsupport::sz(text);
    if (kind == QLatin1String("DWORD")) {
        type = REG_DWORD;
        data = testsupport::dword(text.toUInt());
    } else if (kind == QLatin1String("MULTI")) {
        type = REG_MULTI_SZ;
        data = testsupport::sz(QString(text).replace(QLatin1Char('|'), QChar(0))) + '\0';
    }
    QCOMPARE(testsupport::setValue(platform::registry(), hive, path.toStdString(), name.toStdString(), type, data, KEY_ALL_ACCESS | KEY_WOW64_64KEY),
             ERROR_SUCCESS);
}

bool exists(HKEY hive, const QString& path)
{
    return testsupport::keyExists(platform::registry(), hive, path.toStdString(), KEY_READ | KEY_WOW64_64KEY);
}

} // namespace

class TstRegStates : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_factory.reset(createFactory(nullptr));
    }
    void cleanup() { m_state.reset(); }

    void textBuffers_data()
    {
        QTest::addColumn<QStringList>("list"); // one string: REG_SZ; else REG_MULTI_SZ
        QTest::addColumn<bool>("fits");        // else the default (and a list is not written)
        // The buffers count characters with their NULs (255 for a string, 1,024 for a list),
        // whatever number of bytes the stored UTF-8 takes.
        const auto text = [](int n, QChar c = QLatin1Char('x')) { return QStringList{QString(n, c)}; };
        QTest::newRow("254 characters") << text(254) << true;
        QTest::newRow("255 characters") << text(255) << false;
        QTest::newRow("254 accented characters") << text(254, QChar(0xE9)) << true;
        QTest::newRow("255 accented characters") << text(255, QChar(0xE9)) << false;
        QTest::newRow("empty") << QStringList{QString()} << true;
        QTest::newRow("list filling 1024") << QStringList{QString(500, QLatin1Char('a')), QString(521, QLatin1Char('b'))} << true;
        QTest::newRow("list needing 1025") << QStringList{QString(500, QLatin1Char('a')), QString(522, QLatin1Char('b'))} << false;
        QTest::newRow("list of 1022 accented") << QStringList{QString(1000, QChar(0xE9)), QString(21, QChar(0x65E5))} << true;
        QTest::newRow("empty list") << QStringList() << true;
    }

    void textBuffers()
    {
        QFETCH(QStringList, list);
        QFETCH(bool, fits);
        machine(QStringLiteral("winxp-sp2"));
        const QString path = QStringLiteral("Software\\Limits");
        QVERIFY(registry::createRegKey(registry::UserHive, path, registry::FullAccess).isOpen());
        if (list.size() == 1) {
            QVERIFY(registry::writeRegString(registry::UserHive, path, QStringLiteral("v"), list.first()));
            QCOMPARE(registry::readRegString(registry::UserHive, path, QStringLiteral("v"), QStringLiteral("default")),
                     fits ? list.first() : QStringLiteral("default"));
            return;
        }
        QCOMPARE(registry::writeRegMultiString(registry::UserHive, path, QStringLiteral("v"), list), fits);
        QCOMPARE(registry::readRegMultiString(registry::UserHive, path, QStringLiteral("v"), {QStringLiteral("default")}),
                 fits ? list : QStringList{QStringLiteral("default")});
    }

    void registryKeyIsShared()
    {
        machine(QStringLiteral("winxp-sp2"));
        HKEY handle = HKEY_NULL;
        {
            registry::RegistryKey key = registry::openRegKey(registry::UserHive, QStringLiteral("Software"), registry::ReadAccess);
            QVERIFY(key.isOpen());
            QCOMPARE(key.rights(), KEY_READ);
            handle = key.handle();
            registry::RegistryKey copy = key;
            QCOMPARE(key.useCount(), 2);
            {
                registry::RegistryKey third;
                third = copy;
                QCOMPARE(key.useCount(), 3);
            }
            QCOMPARE(copy.useCount(), 2);
        }
        // The last copy closed the handle.
        QCOMPARE(platform::registry().regCloseKey(handle), ERROR_INVALID_HANDLE);
        const registry::RegistryKey missing = registry::openRegKey(registry::UserHive, QStringLiteral("Software\\None"), registry::ReadAccess);
        QVERIFY(!missing.isOpen());
        QCOMPARE(registry::readRegDword(missing, QStringLiteral("v"), 7u), 7u);
        QVERIFY(!registry::writeRegDword(missing, QStringLiteral("v"), 1));
    }

    void readRegkey_data()
    {
        QTest::addColumn<QString>("stored"); // HIVE|TYPE:text, "" for nothing
        QTest::addColumn<QStringList>("properties"); // besides path and key
        QTest::addColumn<QVariant>("expected");

        QTest::newRow("user string") << "HKCU|SZ:1.2" << QStringList{"default=none"} << QVariant(QStringLiteral("1.2"));
        QTest::newRow("GLOBAL in capitals") << "HKLM|SZ:machine" << QStringList{"default=none", "scope=GLOBAL"} << QVariant(QStringLiteral("machine"));
        QTest::newRow("no scope is the user") << "HKLM|SZ:machine" << QStringList{"default=none"} << QVariant(QStringLiteral("none"));
        QTest::newRow("expandable unexpanded") << "HKCU|EXPAND:%TEMP%\\x" << QStringList{"default=", "scope=user", "type=string"}
                                               << QVariant(QStringLiteral("%TEMP%\\x"));
        QTest::newRow("dword") << "HKCU|DWORD:42" << QStringList{"default=0", "type=DWORD"} << QVariant::fromValue(qulonglong(42));
        QTest::newRow("dword missing gives default") << "" << QStringList{"default=7", "type=dword"} << QVariant::fromValue(qulonglong(7));
        QTest::newRow("dword read as string") << "HKCU|DWORD:42" << QStringList{"default=fallback"} << QVariant(QStringLiteral("fallback"));
        QTest::newRow("string read as dword") << "HKCU|SZ:42" << QStringList{"default=5", "type=dword"} << QVariant::fromValue(qulonglong(5));
        QTest::newRow("list") << "HKCU|MULTI:a|b|c" << QStringList{"default=", "type=list"} << QVariant(QStringList{"a", "b", "c"});
        QTest::newRow("list missing ignores default") << "" << QStringList{"default=x", "type=list"} << QVariant(QStringList());
        QTest::newRow("list read as string") << "HKCU|MULTI:a|b" << QStringList{"default=d"} << QVariant(QStringLiteral("d"));
        // Reads open the key with full access: a read-only key gives the default.
        QTest::newRow("read-only key") << "HKCU|SZ:1.2|read-only" << QStringList{"default=none"} << QVariant(QStringLiteral("none"));
    }

    void readRegkey()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, properties);
        QFETCH(QVariant, expected);
        EmulatedMachine& m = machine(QStringLiteral("winxp-sp2"));
        const bool readOnly = stored.endsWith(QLatin1String("|read-only"));
        if (readOnly)
            stored.chop(10);
        if (!stored.isEmpty())
            put(root(stored.section('|', 0, 0)), QStringLiteral("Software\\Demo"), QStringLiteral("Version"), stored.section('|', 1));
        if (readOnly)
            QCOMPARE(m.setKeyAccess(HKEY_CURRENT_USER, "Software\\Demo", 1), ERROR_SUCCESS);
        QCOMPARE(run(QStringLiteral("readRegkey"), QStringList{"path=Software\\Demo", "key=Version"} + properties), QStringLiteral("finished"));
        QCOMPARE(m_state->property("value"), expected);
    }

    void writeRegkey_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariant>("value"); // a text as the description gives it, else set on the state
        QTest::addColumn<bool>("keyExists");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("stored");

        QTest::newRow("string") << "" << QVariant(QStringLiteral("Grüße 日本")) << true << "success" << "SZ:Grüße 日本";
        QTest::newRow("missing key fails") << "" << QVariant(QStringLiteral("x")) << false << "failed" << "-";
        QTest::newRow("dword") << "dword" << QVariant(QStringLiteral("4294967295")) << true << "success" << "DWORD:4294967295";
        QTest::newRow("dword keeps low 32 bits") << "Dword" << QVariant(QStringLiteral("4294967296")) << true << "success" << "DWORD:0";
        QTest::newRow("dword of a number") << "dword" << QVariant(qlonglong(4294967298LL)) << true << "success" << "DWORD:2";
        QTest::newRow("list") << "list" << QVariant(QStringList{"a", "b"}) << true << "success" << "MULTI:a|b";
        QTest::newRow("list too long") << "list" << QVariant(QStringList{QString(600, 'a'), QString(600, 'b')}) << true << "failed" << "-";
    }

    void writeRegkey()
    {
        QFETCH(QString, type);
        QFETCH(QVariant, value);
        QFETCH(bool, keyExists);
        QFETCH(QString, event);
        QFETCH(QString, stored);
        machine(QStringLiteral("winxp-sp2"));
        if (keyExists)
            put(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Demo"), QStringLiteral("other"), QStringLiteral("SZ:x"));
        QStringList properties{"scope=global", "path=SOFTWARE\\Demo", "key=v", "type=" + type};
        const bool text = value.typeId() == QMetaType::QString;
        if (text)
            properties << "value=" + value.toString();
        QCOMPARE(run(QStringLiteral("writeRegkey"), properties, text ? QVariantMap() : QVariantMap{{"value", value}}), event);
        QCOMPARE(::stored(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Demo"), QStringLiteral("v")), stored);
    }

    void createRegkey_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<int>("parentAccess");
        QTest::addColumn<QString>("event");

        QTest::newRow("new, several levels") << "Software\\A\\B\\C" << false << -1 << "success";
        QTest::newRow("existing") << "Software\\A" << true << -1 << "success";
        QTest::newRow("leading backslash") << "\\Software\\A\\B" << false << -1 << "success";
        QTest::newRow("below a read-only key") << "Software\\A\\B" << false << 1 << "failed";
        QTest::newRow("existing read-only key") << "Software\\A" << true << 1 << "success";
    }

    void createRegkey()
    {
        QFETCH(QString, path);
        QFETCH(bool, existing);
        QFETCH(int, parentAccess);
        QFETCH(QString, event);
        EmulatedMachine& m = machine(QStringLiteral("winxp-sp2"));
        put(HKEY_CURRENT_USER, QStringLiteral("Software\\A"), QStringLiteral("kept"), QStringLiteral("SZ:yes"));
        if (parentAccess >= 0)
            QCOMPARE(m.setKeyAccess(HKEY_CURRENT_USER, "Software\\A", parentAccess), ERROR_SUCCESS);
        QCOMPARE(run(QStringLiteral("createRegkey"), {"path=" + path}), event);
        const QString relative = path.startsWith('\\') ? path.mid(1) : path;
        QCOMPARE(exists(HKEY_CURRENT_USER, relative), event == QLatin1String("success"));
        if (existing)
            QCOMPARE(::stored(HKEY_CURRENT_USER, relative, QStringLiteral("kept")), QStringLiteral("SZ:yes"));
    }

    void wow64StatesUseThe64BitView()
    {
        machine(QStringLiteral("vista-x64"));
        QCOMPARE(run(QStringLiteral("createRegkey"), {"scope=global", "path=SOFTWARE\\Demo"}), QStringLiteral("success"));
        QCOMPARE(run(QStringLiteral("writeRegkey"), {"scope=global", "path=SOFTWARE\\Demo", "key=v", "value=64"}), QStringLiteral("success"));
        QCOMPARE(stored(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Demo"), QStringLiteral("v")), QStringLiteral("SZ:64"));
        QVERIFY(!exists(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Wow6432Node\\Demo")));
        // Unregistering finds the key in the view it was registered in.
        QCOMPARE(run(QStringLiteral("registerUninstall"), {"applicationName=Demo", "command=u.exe"}), QStringLiteral("finished"));
        QVERIFY(exists(HKEY_LOCAL_MACHINE, UninstallKey + QStringLiteral("\\Demo")));
        QCOMPARE(run(QStringLiteral("registerUninstall"), {"applicationName=Demo", "unregister=true"}), QStringLiteral("finished"));
        QVERIFY(!exists(HKEY_LOCAL_MACHINE, UninstallKey + QStringLiteral("\\Demo")));
    }

    void registerStart_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QStringList>("properties"); // besides description and command
        QTest::addColumn<QString>("before"); // HIVE|KEY|TYPED, "HKCU|-" for no user Run key, or ""
        QTest::addColumn<QString>("where");  // HIVE|KEY of the entry afterwards
        QTest::addColumn<QString>("after");  // its value, "-" for none

        const QString cmd = QStringLiteral("SZ:C:\\Program Files\\Demo\\tray.exe");
        QTest::newRow("xp user") << "winxp-sp2" << QStringList() << "" << "HKCU|Run" << cmd;
        QTest::newRow("xp all users") << "winxp-sp2" << QStringList{"allUsers=yes"} << "" << "HKLM|Run" << cmd;
        QTest::newRow("98 is always the machine") << "win98" << QStringList{"allUsers=false"} << "" << "HKLM|Run" << cmd;
        QTest::newRow("\"no\" is no") << "winxp-sp2" << QStringList{"allUsers=no"} << "" << "HKLM|Run" << "-";
        QTest::newRow("run once") << "winxp-sp2" << QStringList{"runOnce=true"} << "" << "HKCU|RunOnce" << cmd;
        QTest::newRow("existing kept") << "winxp-sp2" << QStringList() << "HKCU|Run|SZ:old.exe" << "HKCU|Run" << "SZ:old.exe";
        QTest::newRow("unregister existing") << "winxp-sp2" << QStringList{"unregister=yes"} << "HKCU|Run|SZ:old.exe" << "HKCU|Run" << "-";
        QTest::newRow("unregister missing") << "winxp-sp2" << QStringList{"unregister=1"} << "" << "HKCU|Run" << "-";
        QTest::newRow("missing key not created") << "vista" << QStringList() << "HKCU|-" << "HKCU|Run" << "-";
    }

    void registerStart()
    {
        QFETCH(QString, profile);
        QFETCH(QStringList, properties);
        QFETCH(QString, before);
        QFETCH(QString, where);
        QFETCH(QString, after);
        EmulatedMachine& m = machine(profile);
        auto keyOf = [](const QString& name) { return name == QLatin1String("Run") ? RunKey : RunOnceKey; };
        if (before == QLatin1String("HKCU|-"))
            QCOMPARE(m.registry().regDeleteKeyEx(HKEY_CURRENT_USER, RunKey.toStdString(), 0), ERROR_SUCCESS);
        else if (!before.isEmpty())
            put(root(before.section('|', 0, 0)), keyOf(before.section('|', 1, 1)), QStringLiteral("Demo Tray"), before.section('|', 2));
        properties << QStringLiteral("description=Demo Tray") << QStringLiteral("command=%PROGRAM_FILES%\\Demo\\tray.exe");
        QCOMPARE(run(QStringLiteral("registerStart"), properties), QStringLiteral("finished"));
        QCOMPARE(stored(root(where.section('|', 0, 0)), keyOf(where.section('|', 1)), QStringLiteral("Demo Tray")), after);
        QCOMPARE(exists(HKEY_CURRENT_USER, RunKey), before != QLatin1String("HKCU|-"));
    }

    void registerUninstall_data()
    {
        QTest::addColumn<QString>("applicationName");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<bool>("unregister");
        QTest::addColumn<QString>("display"); // DisplayName afterwards, "-" none

        QTest::newRow("named") << "DemoSuite" << "Demo Suite 2.1" << false << "SZ:Demo Suite 2.1";
        QTest::newRow("display name defaults") << "DemoSuite" << "" << false << "SZ:DemoSuite";
        QTest::newRow("unregister") << "DemoSuite" << "" << true << "-";
        QTest::newRow("no name touches nothing") << "" << "Broken" << false << "-";
        QTest::newRow("no name unregisters nothing") << "" << "" << true << "SZ:old";
    }

    void registerUninstall()
    {
        QFETCH(QString, applicationName);
        QFETCH(QString, displayName);
        QFETCH(bool, unregister);
        QFETCH(QString, display);
        machine(QStringLiteral("win98"));
        const QString key = UninstallKey + QStringLiteral("\\DemoSuite");
        put(HKEY_LOCAL_MACHINE, UninstallKey + QStringLiteral("\\Other"), QStringLiteral("DisplayName"), QStringLiteral("SZ:Other"));
        if (unregister)
            put(HKEY_LOCAL_MACHINE, key, QStringLiteral("DisplayName"), QStringLiteral("SZ:old"));
        QCOMPARE(run(QStringLiteral("registerUninstall"), {"applicationName=" + applicationName, "displayName=" + displayName,
                                                           "command=%WINDIR%\\uninst.exe Demo",
                                                           unregister ? "unregister=true" : "unregister=false"}),
                 QStringLiteral("finished"));
        QCOMPARE(stored(HKEY_LOCAL_MACHINE, key, QStringLiteral("DisplayName")), display);
        if (!unregister && !applicationName.isEmpty())
            QCOMPARE(stored(HKEY_LOCAL_MACHINE, key, QStringLiteral("UninstallString")), QStringLiteral("SZ:C:\\WINDOWS\\uninst.exe Demo"));
        // Other programs and the list itself stay.
        QCOMPARE(stored(HKEY_LOCAL_MACHINE, UninstallKey + QStringLiteral("\\Other"), QStringLiteral("DisplayName")), QStringLiteral("SZ:Other"));
        QCOMPARE(stored(HKEY_LOCAL_MACHINE, UninstallKey, QStringLiteral("DisplayName")), QStringLiteral("-"));
    }

    // Files and folders below a path scheduled for removal at the next restart, folders whose
    // name begins with a dot left out (a file so named is no hidden one); symbolic links are
    // removed, never followed.
    void removeFilesAfterReboot_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("scheduled");

        const QStringList tree = {"C:\\Demo\\.hidden", "C:\\Demo\\A.txt", "C:\\Demo\\b.txt", "C:\\Demo\\link", "C:\\Demo\\Sub\\c.txt", "C:\\Demo\\Sub", "C:\\Demo"};
        QTest::newRow("tree") << "winxp-sp2" << "%WINDRIVE%\\Demo" << tree;
        QTest::newRow("trailing slash") << "winxp-sp2" << "%WINDRIVE%/Demo/" << tree;
        QTest::newRow("one file") << "win2000" << "%WINDRIVE%\\Demo\\b.txt" << QStringList{"C:\\Demo\\b.txt"};
        QTest::newRow("link") << "winxp-sp2" << "C:\\Demo\\link" << QStringList{"C:\\Demo\\link"};
        QTest::newRow("missing path") << "winxp-sp2" << "%WINDRIVE%\\Nothing" << QStringList{"C:\\Nothing"};
        QTest::newRow("empty path") << "winxp-sp2" << "" << QStringList();
        QTest::newRow("9x cannot") << "winme" << "%WINDRIVE%\\Demo" << QStringList();
    }

    void removeFilesAfterReboot()
    {
        QFETCH(QString, profile);
        QFETCH(QString, path);
        QFETCH(QStringList, scheduled);
        EmulatedMachine& m = machine(profile);
        const QString demo = m.hostPath(QStringLiteral("C:\\Demo"));
        for (const char* file : {"/b.txt", "/A.txt", "/Sub/c.txt", "/.cache/d.txt", "/.hidden"})
            QVERIFY(testsupport::writeFile(demo + QLatin1String(file), QByteArray()));
        QTemporaryDir outside;
        QVERIFY(testsupport::writeFile(outside.filePath(QStringLiteral("x.txt")), QByteArray()));
        QVERIFY(QFile::link(outside.path(), demo + QStringLiteral("/link")));

        QCOMPARE(run(QStringLiteral("removeFilesAfterReboot"), {"path=" + path}), QStringLiteral("finished"));
        QStringList got;
        for (const auto& operation : m.pendingFileOperations()) {
            QVERIFY(operation.second.isEmpty());
            got << operation.first;
        }
        QCOMPARE(got, scheduled);
        QList<EmulatedMachine::BootEntry> done;
        QString error;
        QVERIFY2(m.reboot(&done, &error), qPrintable(error));
        QVERIFY(QFile::exists(outside.filePath(QStringLiteral("x.txt"))));
        QCOMPARE(QFileInfo(demo + QStringLiteral("/link")).isSymLink(), !scheduled.contains(QStringLiteral("C:\\Demo\\link")));
    }

    void setEmailAccount_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<bool>("written");
        QTest::newRow("winxp-sp2") << "winxp-sp2" << true;
        QTest::newRow("winxp-sp1") << "winxp-sp1" << true;
        QTest::newRow("win2000") << "win2000" << false;
        QTest::newRow("vista") << "vista" << false;
    }

    void setEmailAccount()
    {
        QFETCH(QString, profile);
        QFETCH(bool, written);
        EmulatedMachine& m = machine(profile);
        QCOMPARE(run(QStringLiteral("setEmailAccount"), {"accountName=Work Mail", "displayName=Jo Doe", "pop3Server=pop.example.net",
                                                         "smtpServer=smtp.example.net", "emailAddress=jo@example.net", "login=jdoe"}),
                 QStringLiteral("finished"));
        const QString account = QStringLiteral("Software\\Microsoft\\Internet Account Manager\\Accounts\\Work Mail");
        QCOMPARE(exists(HKEY_CURRENT_USER, account), written);
        QCOMPARE(stored(HKEY_CURRENT_USER, QStringLiteral("Software\\Microsoft\\Internet Account Manager"), QStringLiteral("Default Mail Account")),
                 written ? QStringLiteral("SZ:Work Mail") : QStringLiteral("-"));
        if (!written)
            return;
        // The values in the order they are written.
        const QString exported = testsupport::exported(m.registry(), "HKCU\\" + account.toStdString());
        QCOMPARE(exported.split(QStringLiteral("\r\n")).mid(3), QStringList({
            R"("Account Name"="Work Mail")", R"("ConnectionFlags"=dword:00000000)", R"("Connection Type"=dword:00000003)",
            R"("POP3 Skip Account"=dword:00000000)", R"("POP3 User Name"="jdoe")", R"("POP3 Prompt for Password"=dword:00000001)",
            R"("POP3 Server"="pop.example.net")", R"("SMTP Display Name"="Jo Doe")", R"("SMTP Organization Name"="")",
            R"("SMTP Server"="smtp.example.net")", R"("SMTP Email Address"="jo@example.net")", "", ""}));
    }

    void detectProxy_data()
    {
        QTest::addColumn<QString>("enable"); // "TYPED" or "" for none
        QTest::addColumn<QString>("server");
        QTest::addColumn<QStringList>("expected"); // http, https, ftp, gopher, socks; "<unset>" for untouched

        const QString unset = QStringLiteral("<unset>");
        const QStringList none{"", "", "", "", ""};
        QTest::newRow("disabled") << "DWORD:0" << "proxy:80" << none;
        QTest::newRow("not configured") << "" << "proxy:80" << none;
        QTest::newRow("enable is a string") << "SZ:1" << "proxy:80" << none;
        QTest::newRow("one for all") << "DWORD:1" << "proxy:80" << QStringList{"proxy:80", "proxy:80", "proxy:80", "proxy:80", "proxy:80"};
        QTest::newRow("http and ftp") << "DWORD:1" << "http=web:80;ftp=files:21" << QStringList{"web:80", unset, "files:21", unset, unset};
        QTest::newRow("single https") << "DWORD:1" << "https=secure:443" << QStringList{unset, "secure:443", unset, unset, unset};
        QTest::newRow("later wins, strays ignored") << "DWORD:1" << "http=a:1;junk;http=b:2;socks=s:1080" << QStringList{"b:2", unset, unset, unset, "s:1080"};
        QTest::newRow("prefix inside a piece") << "DWORD:1" << "x gopher=g:70;;ftp=f:21" << QStringList{unset, unset, "f:21", "g:70", unset};
    }

    void detectProxy()
    {
        QFETCH(QString, enable);
        QFETCH(QString, server);
        QFETCH(QStringList, expected);
        EmulatedMachine& m = machine(QStringLiteral("winxp-sp2"));
        HKEY key = HKEY_NULL;
        QCOMPARE(m.registry().regOpenKeyEx(HKEY_CURRENT_USER, ProxyKey.toStdString(), KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        QCOMPARE(m.registry().regDeleteValue(key, "ProxyEnable"), ERROR_SUCCESS);
        m.registry().regCloseKey(key);
        if (!enable.isEmpty())
            put(HKEY_CURRENT_USER, ProxyKey, QStringLiteral("ProxyEnable"), enable);
        put(HKEY_CURRENT_USER, ProxyKey, QStringLiteral("ProxyServer"), QStringLiteral("SZ:") + server);
        QCOMPARE(run(QStringLiteral("detectProxy"), {}), QStringLiteral("finished"));
        QStringList got;
        for (const char* name : {"proxyHttpServer", "proxyHttpsServer", "proxyFtpServer", "proxyGopherServer", "proxySocksServer"})
            got << (m_state->exists(QLatin1String(name)) ? m_state->property(name).toString() : QStringLiteral("<unset>"));
        QCOMPARE(got, expected);
    }

private:
    // A fresh machine of the profile as the process's machine.
    EmulatedMachine& machine(const QString& profile)
    {
        std::string error;
        if (testsupport::openFreshMachine(m_dir, profile, &error).isEmpty())
            qFatal("%s", error.c_str());
        return emulated::currentMachine();
    }

    // Makes a state of the type from "key=value" texts, sets the other values on it, runs it
    // and answers its exit event; the state stays in m_state.
    QString run(const QString& type, const QStringList& properties, const QVariantMap& values = {})
    {
        m_state = testsupport::createState(*m_factory, type, properties);
        if (!m_state)
            return QStringLiteral("<no state>");
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            m_state->setProperty(it.key(), it.value());
        return testsupport::runState(*m_state);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<CStateFactory> m_factory;
    std::unique_ptr<CState> m_state;
};

QTEST_GUILESS_MAIN(TstRegStates)
#include "tst_regstates.moc"
