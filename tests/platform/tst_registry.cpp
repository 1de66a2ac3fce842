// The emulated registry at the platform interface: Windows semantics (case, types, buffer
// sizes, rights, WOW64 view), the registry-editor format, delayed removal and restart, and
// the machine folder's database (persistence, schema, crashes, concurrent processes).

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

#include <sqlite3.h>

using namespace winsteps::platform;
using emulated::EmulatedMachine;
using testsupport::exported;
using emulated::RegistryStore;

namespace {

QByteArray sz(const QString& text)
{
    QByteArray data = text.toUtf8();
    data.append('\0');
    return data;
}

QByteArray dword(quint32 value)
{
    QByteArray data;
    for (int i = 0; i < 4; ++i)
        data.append(char((value >> (8 * i)) & 0xFF));
    return data;
}

const std::uint8_t* bytes(const QByteArray& data)
{
    return reinterpret_cast<const std::uint8_t*>(data.constData());
}

std::uint32_t setValue(Registry& m, HKEY root, const std::string& path, const std::string& name, std::uint32_t type,
                       const QByteArray& data, REGSAM sam = KEY_ALL_ACCESS)
{
    HKEY key = HKEY_NULL;
    std::uint32_t code = m.regCreateKeyEx(root, path, REG_OPTION_NON_VOLATILE, sam, &key, nullptr);
    if (code != ERROR_SUCCESS)
        return code;
    code = m.regSetValueEx(key, name, type, bytes(data), std::uint32_t(data.size()));
    m.regCloseKey(key);
    return code;
}

// The value's data, or a null array when it cannot be read.
QByteArray value(Registry& m, HKEY root, const std::string& path, const std::string& name, std::uint32_t* type = nullptr,
                 REGSAM sam = KEY_READ)
{
    HKEY key = HKEY_NULL;
    if (m.regOpenKeyEx(root, path, sam, &key) != ERROR_SUCCESS)
        return QByteArray();
    std::uint32_t size = 0;
    QByteArray data;
    if (m.regQueryValueEx(key, name, type, nullptr, &size) == ERROR_SUCCESS) {
        data.resize(size);
        if (m.regQueryValueEx(key, name, type, reinterpret_cast<std::uint8_t*>(data.data()), &size) != ERROR_SUCCESS)
            data = QByteArray();
        else if (data.isNull())
            data = QByteArray("");
    }
    m.regCloseKey(key);
    return data;
}

bool keyExists(Registry& m, HKEY root, const std::string& path, REGSAM sam = KEY_READ)
{
    HKEY key = HKEY_NULL;
    if (m.regOpenKeyEx(root, path, sam, &key) != ERROR_SUCCESS)
        return false;
    m.regCloseKey(key);
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
    void namesKeepCaseAndCompareWithout();
    void queryBuffers_data();
    void queryBuffers();
    void errors_data();
    void errors();
    void deleteKeyFollowsTheFamily_data();
    void deleteKeyFollowsTheFamily();
    void rights_data();
    void rights();
    void wow64View();
    void folderKeepsMachineAndProfile();
    void profileSeedsTheRegistry();
    void exportImportRoundTrip();
    void importEditorUtf16File();
    void delayedRemoval_data();
    void delayedRemoval();
    void rebootRemovesInOrderAndRunsOnce();
    void killedWriterLosesNothingReported();
    void processesOpenOneFreshFolderAtOnce_data();
    void processesOpenOneFreshFolderAtOnce();

private:
    std::unique_ptr<EmulatedMachine> fresh(const QString& profile = QStringLiteral("winxp-sp2"))
    {
        return testsupport::freshMachine(m_dir, profile);
    }
    QString newFolder() { return testsupport::freshFolder(m_dir); }

    QTemporaryDir m_dir;
};

void TstRegistry::namesKeepCaseAndCompareWithout()
{
    auto m = fresh();
    QVERIFY(m);
    QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, "Software\\Demo Ärger", "Version", REG_SZ, sz("1")), ERROR_SUCCESS);
    QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, "SOFTWARE\\demo ärger", "VERSION", REG_SZ, sz("2")), ERROR_SUCCESS);
    QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, "software\\DEMO ÄRGER", "version"), sz("2"));

    // One key and one value, spelled as first created.
    HKEY key = HKEY_NULL;
    QCOMPARE(m->registry().regOpenKeyEx(HKEY_CURRENT_USER, "software", KEY_READ, &key), ERROR_SUCCESS);
    QStringList children;
    std::string name;
    for (std::uint32_t i = 0; m->registry().regEnumKeyEx(key, i, &name) == ERROR_SUCCESS; ++i)
        children << QString::fromStdString(name);
    QVERIFY2(children.contains(QStringLiteral("Demo Ärger")), qPrintable(children.join(',')));
    QCOMPARE(children.count(QStringLiteral("Demo Ärger")) + children.count(QStringLiteral("demo ärger")), 1);
    m->registry().regCloseKey(key);
    QCOMPARE(m->registry().regOpenKeyEx(HKEY_CURRENT_USER, "Software\\Demo Ärger", KEY_READ, &key), ERROR_SUCCESS);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    QCOMPARE(m->registry().regEnumValue(key, 0, &name, &type, &data), ERROR_SUCCESS);
    QCOMPARE(name, std::string("Version"));
    QCOMPARE(m->registry().regEnumValue(key, 1, &name, &type, &data), ERROR_NO_MORE_ITEMS);
    m->registry().regCloseKey(key);
}

void TstRegistry::queryBuffers_data()
{
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<uint>("buffer");
    QTest::addColumn<uint>("expected"); // the answer of the call with that buffer

    QTest::newRow("exact fit") << uint(REG_SZ) << sz("abc") << 4u << ERROR_SUCCESS;
    QTest::newRow("one byte short") << uint(REG_SZ) << sz("abc") << 3u << ERROR_MORE_DATA;
    QTest::newRow("dword in 4") << uint(REG_DWORD) << dword(42) << 4u << ERROR_SUCCESS;
    QTest::newRow("binary larger buffer") << uint(REG_BINARY) << QByteArray("\x01\x02", 2) << 16u << ERROR_SUCCESS;
    QTest::newRow("empty value") << uint(REG_BINARY) << QByteArray("") << 0u << ERROR_SUCCESS;
    QTest::newRow("multi short") << uint(REG_MULTI_SZ) << QByteArray("a\0b\0\0", 5) << 4u << ERROR_MORE_DATA;
}

void TstRegistry::queryBuffers()
{
    QFETCH(uint, type);
    QFETCH(QByteArray, data);
    QFETCH(uint, buffer);
    QFETCH(uint, expected);
    auto m = fresh();
    QVERIFY(m);
    QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, "Software\\Buffers", "v", type, data), ERROR_SUCCESS);
    HKEY key = HKEY_NULL;
    QCOMPARE(m->registry().regOpenKeyEx(HKEY_CURRENT_USER, "Software\\Buffers", KEY_QUERY_VALUE, &key), ERROR_SUCCESS);

    // Without a buffer: the size needed.
    std::uint32_t size = 0;
    std::uint32_t gotType = 99;
    QCOMPARE(m->registry().regQueryValueEx(key, "v", &gotType, nullptr, &size), ERROR_SUCCESS);
    QCOMPARE(size, uint(data.size()));
    QCOMPARE(gotType, type);

    QByteArray out(qsizetype(buffer) + 1, '\x7f');
    size = buffer;
    QCOMPARE(m->registry().regQueryValueEx(key, "v", &gotType, reinterpret_cast<std::uint8_t*>(out.data()), &size), expected);
    QCOMPARE(size, uint(data.size())); // copied, or needed
    if (expected == ERROR_SUCCESS)
        QCOMPARE(out.left(data.size()), data);
    else
        QCOMPARE(out, QByteArray(qsizetype(buffer) + 1, '\x7f')); // untouched
    m->registry().regCloseKey(key);
}

void TstRegistry::errors_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<uint>("expected");

    QTest::newRow("open missing") << "open Software\\Missing" << ERROR_FILE_NOT_FOUND;
    QTest::newRow("leading backslash") << "open \\Software" << ERROR_BAD_PATHNAME;
    QTest::newRow("empty part") << "open Software\\\\Microsoft" << ERROR_BAD_PATHNAME;
    QTest::newRow("trailing backslash") << "open Software\\" << ERROR_SUCCESS;
    QTest::newRow("create below missing") << "create Software\\New\\Deeper" << ERROR_SUCCESS;
    QTest::newRow("query missing value") << "query Software Nothing" << ERROR_FILE_NOT_FOUND;
    QTest::newRow("delete missing value") << "deletevalue Software Nothing" << ERROR_FILE_NOT_FOUND;
    QTest::newRow("delete key with sub-keys") << "deletekey Software" << ERROR_ACCESS_DENIED;
    QTest::newRow("delete a hive") << "deletekey " << ERROR_ACCESS_DENIED;
    QTest::newRow("bad handle") << "badhandle" << ERROR_INVALID_HANDLE;
    QTest::newRow("deleted key") << "deletedkey" << ERROR_KEY_DELETED;
    QTest::newRow("9x hive on NT") << "dyndata" << ERROR_INVALID_HANDLE;
    QTest::newRow("enumerate without a name buffer") << "enumnull" << ERROR_INVALID_PARAMETER;
}

void TstRegistry::errors()
{
    QFETCH(QString, call);
    QFETCH(uint, expected);
    auto m = fresh();
    QVERIFY(m);
    const QStringList words = call.split(QLatin1Char(' '));
    const std::string path = words.value(1).toStdString();
    HKEY key = HKEY_NULL;
    std::uint32_t code = 0;
    if (words[0] == QLatin1String("open")) {
        code = m->registry().regOpenKeyEx(HKEY_CURRENT_USER, path, KEY_READ, &key);
    } else if (words[0] == QLatin1String("create")) {
        code = m->registry().regCreateKeyEx(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key, nullptr);
    } else if (words[0] == QLatin1String("query") || words[0] == QLatin1String("deletevalue")) {
        QCOMPARE(m->registry().regOpenKeyEx(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        code = words[0] == QLatin1String("query") ? m->registry().regQueryValueEx(key, words[2].toStdString(), nullptr, nullptr, nullptr)
                                                  : m->registry().regDeleteValue(key, words[2].toStdString());
    } else if (words[0] == QLatin1String("deletekey")) {
        code = m->registry().regDeleteKeyEx(HKEY_CURRENT_USER, path, 0);
        QVERIFY(keyExists(m->registry(), HKEY_CURRENT_USER, "Software"));
    } else if (words[0] == QLatin1String("badhandle")) {
        std::uint32_t size = 0;
        code = m->registry().regQueryValueEx(0x4711, "x", nullptr, nullptr, &size);
    } else if (words[0] == QLatin1String("deletedkey")) {
        QCOMPARE(m->registry().regCreateKeyEx(HKEY_CURRENT_USER, "Software\\Gone", 0, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
        QCOMPARE(m->registry().regDeleteKeyEx(HKEY_CURRENT_USER, "Software\\Gone", 0), ERROR_SUCCESS);
        const QByteArray data = sz("x");
        code = m->registry().regSetValueEx(key, "v", REG_SZ, bytes(data), std::uint32_t(data.size()));
    } else if (words[0] == QLatin1String("dyndata")) {
        code = m->registry().regOpenKeyEx(HKEY_DYN_DATA, std::string(), KEY_READ, &key);
    } else if (words[0] == QLatin1String("enumnull")) {
        code = m->registry().regEnumKeyEx(HKEY_CURRENT_USER, 0, nullptr);
    }
    QCOMPARE(code, expected);
    if (key != HKEY_NULL)
        m->registry().regCloseKey(key);
}

void TstRegistry::deleteKeyFollowsTheFamily_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<uint>("expected");
    // NT removes one key at a time; the 9x family removes the whole tree.
    QTest::newRow("winxp-sp2") << "winxp-sp2" << ERROR_ACCESS_DENIED;
    QTest::newRow("win98") << "win98" << ERROR_SUCCESS;
}

void TstRegistry::deleteKeyFollowsTheFamily()
{
    QFETCH(QString, profile);
    QFETCH(uint, expected);
    auto m = fresh(profile);
    QVERIFY(m);
    QCOMPARE(setValue(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Leaf", "v", REG_SZ, sz("x")), ERROR_SUCCESS);
    QCOMPARE(m->registry().regDeleteKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree", 0), expected);
    QCOMPARE(keyExists(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Leaf"), expected != ERROR_SUCCESS);
    QCOMPARE(m->registry().regDeleteKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree\\Leaf", 0),
             expected == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
}

void TstRegistry::rights_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("access"); // mark on the key, -1 none
    QTest::addColumn<uint>("hive");
    QTest::addColumn<uint>("openRead");
    QTest::addColumn<uint>("openAll");
    QTest::addColumn<uint>("createBelow");
    QTest::addColumn<uint>("deleteKey");

    const uint ok = ERROR_SUCCESS, denied = ERROR_ACCESS_DENIED;
    QTest::newRow("full") << "winxp-sp2" << -1 << uint(HKEY_CURRENT_USER) << ok << ok << ok << ok;
    QTest::newRow("read-only") << "winxp-sp2" << int(RegistryStore::AccessRead) << uint(HKEY_CURRENT_USER) << ok << denied
                               << denied << denied;
    QTest::newRow("denied") << "winxp-sp2" << int(RegistryStore::AccessDenied) << uint(HKEY_CURRENT_USER) << denied
                            << denied << denied << denied;
    QTest::newRow("marked full") << "winxp-sp2" << int(RegistryStore::AccessFull) << uint(HKEY_CURRENT_USER) << ok << ok
                                 << ok << ok;
}

void TstRegistry::rights()
{
    QFETCH(QString, profile);
    QFETCH(int, access);
    QFETCH(uint, hive);
    QFETCH(uint, openRead);
    QFETCH(uint, openAll);
    QFETCH(uint, createBelow);
    QFETCH(uint, deleteKey);
    auto m = fresh(profile);
    QVERIFY(m);
    const HKEY root = hive;
    QCOMPARE(setValue(m->registry(), root, "Software\\Guarded", "v", REG_SZ, sz("x")), ERROR_SUCCESS);
    if (access >= 0)
        QCOMPARE(m->setKeyAccess(root, "Software\\Guarded", access), ERROR_SUCCESS);

    HKEY key = HKEY_NULL;
    QCOMPARE(m->registry().regOpenKeyEx(root, "Software\\Guarded", KEY_READ, &key), openRead);
    if (openRead == ERROR_SUCCESS) {
        // A handle holds only the rights it was opened with.
        const QByteArray data = sz("y");
        QCOMPARE(m->registry().regSetValueEx(key, "v", REG_SZ, bytes(data), std::uint32_t(data.size())), ERROR_ACCESS_DENIED);
        QCOMPARE(value(m->registry(), root, "Software\\Guarded", "v"), sz("x"));
        m->registry().regCloseKey(key);
    }
    QCOMPARE(m->registry().regOpenKeyEx(root, "Software\\Guarded", KEY_ALL_ACCESS, &key), openAll);
    if (openAll == ERROR_SUCCESS)
        m->registry().regCloseKey(key);
    QCOMPARE(m->registry().regCreateKeyEx(root, "Software\\Guarded\\Child", 0, KEY_READ, &key, nullptr), createBelow);
    if (createBelow == ERROR_SUCCESS) {
        m->registry().regCloseKey(key);
        QCOMPARE(m->registry().regDeleteKeyEx(root, "Software\\Guarded\\Child", 0), ERROR_SUCCESS);
    }
    QCOMPARE(m->registry().regDeleteKeyEx(root, "Software\\Guarded", 0), deleteKey);

    // The machine's own tools are not bound by the marks.
    m->setSystemAccess(true);
    QVERIFY(keyExists(m->registry(), root, "Software\\Guarded", KEY_ALL_ACCESS) || deleteKey == ERROR_SUCCESS);
}

void TstRegistry::wow64View()
{
    auto x64 = fresh(QStringLiteral("vista-x64"));
    QVERIFY(x64);
    // A 32-bit caller lands in Wow6432Node unless it asks for the 64-bit view.
    QCOMPARE(setValue(x64->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Demo", "view", REG_SZ, sz("32")), ERROR_SUCCESS);
    QCOMPARE(setValue(x64->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Demo", "view", REG_SZ, sz("64"), KEY_ALL_ACCESS | KEY_WOW64_64KEY),
             ERROR_SUCCESS);
    QCOMPARE(value(x64->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Demo", "view", nullptr, KEY_READ | KEY_WOW64_64KEY), sz("32"));
    QCOMPARE(value(x64->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Demo", "view"), sz("32"));
    QCOMPARE(value(x64->registry(), HKEY_LOCAL_MACHINE, "software\\Demo", "view", nullptr, KEY_READ | KEY_WOW64_64KEY), sz("64"));
    // Only the machine's SOFTWARE is redirected.
    QCOMPARE(setValue(x64->registry(), HKEY_CURRENT_USER, "SOFTWARE\\Demo", "view", REG_SZ, sz("user")), ERROR_SUCCESS);
    QVERIFY(!keyExists(x64->registry(), HKEY_CURRENT_USER, "SOFTWARE\\Wow6432Node\\Demo"));

    auto x86 = fresh(QStringLiteral("winxp-sp2"));
    QVERIFY(x86);
    QCOMPARE(setValue(x86->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Demo", "view", REG_SZ, sz("32")), ERROR_SUCCESS);
    QCOMPARE(value(x86->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Demo", "view", nullptr, KEY_READ | KEY_WOW64_64KEY), sz("32"));
    QVERIFY(!keyExists(x86->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node"));
}

void TstRegistry::folderKeepsMachineAndProfile()
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

void TstRegistry::profileSeedsTheRegistry()
{
    const QString file = m_dir.filePath(QStringLiteral("seeded.json"));
    QFile json(file);
    QVERIFY(json.open(QIODevice::WriteOnly));
    json.write(R"({"inherits": "winxp-sp2", "administrator": false, "registry": {
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings": {"ProxyEnable": 1, "ProxyServer": "proxy:3128"},
        "HKLM\\SOFTWARE\\Seeded": {"@": "default", "list": ["a", "b"], "path": {"type": "REG_EXPAND_SZ", "value": "%TEMP%"},
                                    "blob": {"type": "REG_BINARY", "value": "01,ff"}, "@access": "denied"},
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run": null}})");
    json.close();
    QString error;
    auto m = EmulatedMachine::openFolder(file, newFolder(), &error);
    QVERIFY2(m, qPrintable(error));
    std::uint32_t type = 0;
    QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", "ProxyEnable", &type),
             dword(1));
    QCOMPARE(type, REG_DWORD);
    QVERIFY(!keyExists(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"));
    QVERIFY(keyExists(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"));
    // A user without administrator rights reads the machine's keys but cannot change them.
    HKEY key = HKEY_NULL;
    QCOMPARE(m->registry().regOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
    QCOMPARE(m->registry().regOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Seeded", KEY_READ, &key), ERROR_ACCESS_DENIED);
    m->setSystemAccess(true);
    QCOMPARE(value(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Seeded", "list", &type), QByteArray("a\0b\0\0", 5));
    QCOMPARE(type, REG_MULTI_SZ);
    QCOMPARE(value(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Seeded", "", &type), sz("default"));
    QCOMPARE(value(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Seeded", "path", &type), sz("%TEMP%"));
    QCOMPARE(type, REG_EXPAND_SZ);
    QCOMPARE(value(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Seeded", "blob", &type), QByteArray("\x01\xff", 2));

}

void TstRegistry::exportImportRoundTrip()
{
    auto source = fresh(QStringLiteral("vista-x64"));
    QVERIFY(source);
    const std::string demo = "SOFTWARE\\Demo \"Quoted\" [x]";
    const REGSAM sam = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
    const QByteArray longBinary(300, '\xab');
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "", REG_SZ, sz("default \"value\" with \\ backslash"), sam), ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "na\"me\\", REG_SZ, sz("x"), sam), ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "expand", REG_EXPAND_SZ, sz("%SystemRoot%\\ß"), sam), ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "multi", REG_MULTI_SZ, QByteArray("eins\0zwei\0\xe2\x82\xac\0\0", 15), sam),
             ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "answer", REG_DWORD, dword(42), sam), ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "odd dword", REG_DWORD, QByteArray("\x01\x02", 2), sam), ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "qword", REG_QWORD, QByteArray("\x01\0\0\0\0\0\0\x80", 8), sam),
             ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "binary", REG_BINARY, longBinary, sam), ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "none", REG_NONE, QByteArray(), sam), ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "two lines", REG_SZ, sz("a\r\nb"), sam), ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo, "no nul", REG_SZ, QByteArray("raw"), sam), ERROR_SUCCESS);
    QCOMPARE(setValue(source->registry(), HKEY_LOCAL_MACHINE, demo + "\\Empty\\Deeper", "", REG_SZ, sz("d"), sam), ERROR_SUCCESS);
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

void TstRegistry::importEditorUtf16File()
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

void TstRegistry::delayedRemoval_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("path"); // relative to drive C:; "/..." a host path outside
    QTest::addColumn<uint>("expected");

    QTest::newRow("xp file") << "winxp-sp2" << "Program Files\\Demo\\a.txt" << ERROR_SUCCESS;
    QTest::newRow("not an administrator") << "limited" << "Program Files\\Demo\\a.txt" << ERROR_ACCESS_DENIED;
    QTest::newRow("9x has no delayed removal") << "win98" << "Program Files\\Demo\\a.txt" << ERROR_CALL_NOT_IMPLEMENTED;
}

void TstRegistry::delayedRemoval()
{
    QFETCH(QString, profile);
    QFETCH(QString, path);
    QFETCH(uint, expected);
    QString name = profile;
    if (profile == QLatin1String("limited")) {
        name = m_dir.filePath(QStringLiteral("limited.json"));
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"inherits": "winxp-sp2", "administrator": false})");
    }
    auto m = fresh(name);
    QVERIFY(m);
    const std::string given = path.startsWith(QLatin1Char('/')) ? path.toStdString()
                                                                : QString(QStringLiteral("C:\\") + path).toStdString();
    QCOMPARE(m->files().moveFileEx(given, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), expected);
    if (expected != ERROR_SUCCESS) {
        QVERIFY(m->pendingFileOperations().isEmpty());
        return;
    }
    // As Windows keeps it: "\??\" paths, each followed by its target (empty: remove).
    const std::string host = m->files().localFilePath("C:\\Program Files\\Demo\\b.txt");
    const std::string target = "C:\\Program Files\\Demo\\c.txt";
    QCOMPARE(m->files().moveFileEx(host, &target, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING), ERROR_SUCCESS);
    std::uint32_t type = 0;
    m->setSystemAccess(true);
    QByteArray expectedList;
    for (const char* item : {"\\??\\C:\\Program Files\\Demo\\a.txt", "", "\\??\\C:\\Program Files\\Demo\\b.txt",
                             "!\\??\\C:\\Program Files\\Demo\\c.txt"})
        expectedList += QByteArray(item) + '\0';
    expectedList += '\0';
    QCOMPARE(value(m->registry(), HKEY_LOCAL_MACHINE, SESSION_MANAGER_KEY, PENDING_FILE_RENAME_OPERATIONS, &type), expectedList);
    QCOMPARE(type, REG_MULTI_SZ);
}

void TstRegistry::rebootRemovesInOrderAndRunsOnce()
{
    auto m = fresh();
    QVERIFY(m);
    const QString demo = m->hostPath(QStringLiteral("C:\\Program Files\\Demo"));
    QVERIFY(QDir().mkpath(demo + QStringLiteral("/sub")));
    for (const char* file : {"/a.txt", "/sub/b.txt", "/keep.txt"}) {
        QFile f(demo + QLatin1String(file));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    for (const char* path : {"C:\\Program Files\\Demo\\sub\\b.txt", "C:\\Program Files\\Demo\\sub", "C:\\Program Files\\Demo\\a.txt",
                             "C:\\Program Files\\Demo", "C:\\Program Files\\Demo\\missing.txt"})
        QCOMPARE(m->files().moveFileEx(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_SUCCESS);
    QCOMPARE(setValue(m->registry(), HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "finish", REG_SZ,
                      sz("C:\\finish.exe /quiet")),
             ERROR_SUCCESS);
    QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "welcome", REG_SZ,
                      sz("welcome.exe")),
             ERROR_SUCCESS);
    QCOMPARE(setValue(m->registry(), HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "tray", REG_SZ, sz("tray.exe")),
             ERROR_SUCCESS);
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
        "ran HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce: finish = C:\\finish.exe /quiet",
        "ran HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce: welcome = welcome.exe",
    };
    QCOMPARE(log, expected);
    QVERIFY(QFileInfo::exists(demo + QStringLiteral("/keep.txt")));
    QVERIFY(!QFileInfo::exists(demo + QStringLiteral("/sub")));
    QVERIFY(m->pendingFileOperations().isEmpty());
    QVERIFY(value(m->registry(), HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "welcome").isNull());
    QCOMPARE(value(m->registry(), HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "tray"), sz("tray.exe"));
    QVERIFY(!keyExists(m->registry(), HKEY_CURRENT_USER, "Volatile"));
    QCOMPARE(m->statistics().boots, 1);
    QCOMPARE(m->bootLog(1).size(), expected.size());

    QVERIFY(m->reboot(&done, &error));
    QVERIFY(done.isEmpty());
    QCOMPARE(m->statistics().boots, 2);
}

void TstRegistry::killedWriterLosesNothingReported()
{
    const QString folder = newFolder();
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    QList<QPair<QString, int>> reported; // (prefix, highest value reported)
    // Every wait below is for a state of the writer (started, a line written, ended), never
    // for a time, so that a slow or loaded machine only makes the test slower.
    for (int round = 0; round < 50; ++round) {
        const QString prefix = QStringLiteral("r%1").arg(round);
        const auto where = [&](const QString& step) {
            return QStringLiteral("seed %1, round %2 of 50, %3").arg(seed).arg(round).arg(step);
        };
        QProcess writer;
        writer.start(QStringLiteral(REGWRITER), {folder, prefix, QStringLiteral("100000")});
        QVERIFY2(writer.waitForStarted(-1), qPrintable(where("starting the writer: " + writer.errorString())));
        // Killed at once (perhaps while the machine is being made) or after some writes.
        const int wanted = int(random.bounded(25u));
        int last = -1;
        QByteArray pending;
        while (last + 1 < wanted && writer.state() == QProcess::Running) {
            // False only once the writer has ended.
            if (!writer.waitForReadyRead(-1))
                break;
            pending += writer.readAllStandardOutput();
            while (pending.contains('\n')) {
                const qsizetype eol = pending.indexOf('\n');
                last = pending.left(eol).toInt();
                pending.remove(0, eol + 1);
            }
        }
        writer.kill();
        QVERIFY2(writer.state() == QProcess::NotRunning || writer.waitForFinished(-1),
                 qPrintable(where("waiting for the killed writer: " + writer.errorString())));
        pending += writer.readAllStandardOutput();
        for (const QByteArray& line : pending.split('\n')) {
            if (!line.isEmpty())
                last = line.toInt();
        }
        QVERIFY2(writer.exitStatus() == QProcess::CrashExit || writer.exitCode() == 0,
                 qPrintable(where(QStringLiteral("the writer failed with exit code %1 after value %2: %3")
                                      .arg(writer.exitCode())
                                      .arg(last)
                                      .arg(QString::fromLocal8Bit(writer.readAllStandardError())))));
        reported.append({prefix, last});
    }

    QString error;
    auto m = EmulatedMachine::openExisting(folder, &error);
    QVERIFY2(m, qPrintable(QStringLiteral("seed %1, reopening the machine: %2").arg(seed).arg(error)));
    QCOMPARE(m->integrityCheck(), QStringLiteral("ok"));
    for (const auto& [prefix, last] : std::as_const(reported)) {
        for (int i = 0; i <= last; ++i) {
            const QByteArray data = value(m->registry(), HKEY_CURRENT_USER, QString("Software\\Crash\\" + prefix).toStdString(),
                                          "v" + std::to_string(i));
            QVERIFY2(data == sz(QStringLiteral("%1-%2").arg(prefix).arg(i)),
                     qPrintable(QStringLiteral("seed %1, round %2: v%3 of %4 reported values lost")
                                    .arg(seed).arg(prefix).arg(i).arg(last + 1)));
        }
    }
}

void TstRegistry::processesOpenOneFreshFolderAtOnce_data()
{
    QTest::addColumn<int>("processes");
    QTest::addColumn<int>("count"); // values each one writes
    QTest::newRow("two writers, long") << 2 << 150;
    QTest::newRow("eight openers, short") << 8 << 5;
}

void TstRegistry::processesOpenOneFreshFolderAtOnce()
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
                 qPrintable(QStringLiteral("writer %1 ended with status %2, code %3, after \"%4\": %5")
                                .arg(w)
                                .arg(int(writer.exitStatus()))
                                .arg(writer.exitCode())
                                .arg(QString::fromLatin1(writer.readAllStandardOutput().trimmed().split('\n').last()),
                                     QString::fromLocal8Bit(writer.readAllStandardError()))));
    }

    QString error;
    auto m = EmulatedMachine::openExisting(folder, &error);
    QVERIFY2(m, qPrintable("reopening the machine: " + error));
    for (int w = 0; w < processes; ++w) {
        for (int i = 0; i < count; ++i) {
            const QString prefix = QStringLiteral("w%1").arg(w);
            const QByteArray data = value(m->registry(), HKEY_CURRENT_USER, "Software\\Crash\\" + prefix.toStdString(), "v" + std::to_string(i));
            QVERIFY2(data == sz(QStringLiteral("%1-%2").arg(prefix).arg(i)), qPrintable(prefix + QString::number(i)));
        }
    }
    QCOMPARE(m->integrityCheck(), QStringLiteral("ok"));
}

QTEST_GUILESS_MAIN(TstRegistry)
#include "tst_registry.moc"
