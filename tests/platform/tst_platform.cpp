// The emulated machine beyond what the contract tests check through the interface: its
// profiles (versions, folders, environment, failures, inheritance, errors), the machine opened
// last, where paths land on its drive C: and which stay off it, and the debugger channel.

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machinefolder.h"
#include "platform/process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "support/files.h"
#include "support/freshmachine.h"

using namespace winsteps::platform;
using emulated::currentMachineFolder;
using emulated::currentProfileName;
using emulated::EmulatedMachine;
using emulated::MachineProfile;
using emulated::openMachine;
using testsupport::freshMachine;

class TstPlatform : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void version_data();
    void version();
    void folders_data();
    void folders();
    void folderMadeOnRequest();
    void profileErrors_data();
    void profileErrors();
    void inheritsAndKeepsSubsystemTables();
    void fileCalls_data();
    void fileCalls();
    void listingAndAttributes();
    void subsystemsFollowTheOpenedMachine();
    void debuggerCapture();

private:
    QTemporaryDir m_dir;
};

void TstPlatform::version_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<uint>("platformId");
    QTest::addColumn<uint>("major");
    QTest::addColumn<uint>("minor");
    QTest::addColumn<uint>("build");
    QTest::addColumn<QString>("servicePack");
    QTest::addColumn<int>("servicePackMajor"); // -1: the extended query fails

    // The 9x family repeats the version in the build's high word and has no extended record.
    QTest::newRow("win95") << "win95" << 1u << 4u << 0u << 0x040003B6u << "" << -1;
    QTest::newRow("win98se") << "win98se" << 1u << 4u << 10u << 0x040A08AEu << " A " << -1;
    QTest::newRow("winme") << "winme" << 1u << 4u << 90u << 0x045A0BB8u << " " << -1;
    QTest::newRow("win2000") << "win2000" << 2u << 5u << 0u << 2195u << "Service Pack 4" << 4;
    QTest::newRow("vista-x64") << "vista-x64" << 2u << 6u << 0u << 6001u << "Service Pack 1" << 1;
}

void TstPlatform::version()
{
    QFETCH(QString, profile);
    QFETCH(uint, platformId);
    QFETCH(uint, major);
    QFETCH(uint, minor);
    QFETCH(uint, build);
    QFETCH(QString, servicePack);
    QFETCH(int, servicePackMajor);
    QString error;
    auto m = freshMachine(m_dir, profile, &error);
    QVERIFY2(m, qPrintable(error));

    OsVersionInfoEx info;
    info.size = OSVERSIONINFOEX_SIZE;
    QCOMPARE(m->system().getVersionEx(&info) == ERROR_SUCCESS, servicePackMajor >= 0);
    QCOMPARE(int(info.servicePackMajor), std::max(servicePackMajor, 0));
    info.size = OSVERSIONINFO_SIZE;
    QCOMPARE(m->system().getVersionEx(&info), ERROR_SUCCESS);
    QCOMPARE(QList<uint>({info.platformId, info.majorVersion, info.minorVersion, info.buildNumber}),
             QList<uint>({platformId, major, minor, build}));
    QCOMPARE(QString::fromStdString(info.servicePack), servicePack);
}

// What a profile's Windows answers for its folders and variables, also where the profile
// takes a folder or a variable away or makes a query fail; a folder it names exists on drive C:.
void TstPlatform::folders_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("query"); // "windows", "system", "drive", "%NAME%" a variable, else a CSIDL
    QTest::addColumn<uint>("code");
    QTest::addColumn<QString>("answer");

    const QString less = R"({"inherits": "winxp-sp2", "shellFolders": {"23": null}, "failures": {"GetSystemDirectory": 8},
                             "environment": {"temp": null, "DATA": "C:\\Data;D:\\x"}})";
    const uint ok = ERROR_SUCCESS;
    QTest::newRow("98 windows") << "win98" << "windows" << ok << "C:\\WINDOWS";
    QTest::newRow("98 system") << "win98" << "system" << ok << "C:\\WINDOWS\\SYSTEM";
    QTest::newRow("98 temp") << "win98" << "%TEMP%" << ok << "C:\\WINDOWS\\TEMP";
    QTest::newRow("2000 system") << "win2000" << "system" << ok << "C:\\WINNT\\system32";
    QTest::newRow("xp system") << "winxp-sp2" << "system" << ok << "C:\\WINDOWS\\system32";
    QTest::newRow("xp user's desktop") << "winxp-sp2" << QString::number(csidl::DESKTOPDIRECTORY) << ok
                                       << "C:\\Documents and Settings\\User\\Desktop";
    QTest::newRow("vista windows") << "vista" << "windows" << ok << "C:\\Windows";
    QTest::newRow("vista startup") << "vista" << QString::number(csidl::STARTUP) << ok
                                   << "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
    QTest::newRow("x64 program files x86") << "vista-x64" << QString::number(csidl::PROGRAM_FILESX86) << ok << "C:\\Program Files (x86)";
    QTest::newRow("folder given") << R"({"inherits": "winxp-sp2", "shellFolders": {"26": "c:\\Data\\"}})"
                                  << QString::number(csidl::APPDATA) << ok << "C:\\Data";
    QTest::newRow("folder taken away") << less << QString::number(csidl::COMMON_PROGRAMS) << uint(E_FAIL) << "";
    QTest::newRow("system query fails") << less << "system" << uint(ERROR_NOT_ENOUGH_MEMORY) << "";
    QTest::newRow("so does the drive") << less << "drive" << uint(ERROR_NOT_ENOUGH_MEMORY) << "";
    QTest::newRow("variable taken away") << less << "%TEMP%" << uint(ERROR_ENVVAR_NOT_FOUND) << "";
    QTest::newRow("variable given") << less << "%data%" << ok << "C:\\Data;D:\\x";
    QTest::newRow("no shell folder library") << R"({"inherits": "winxp-sp2", "shellFolderLibrary": false})"
                                             << QString::number(csidl::APPDATA) << uint(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)) << "";
}

void TstPlatform::folders()
{
    QFETCH(QString, profile);
    QFETCH(QString, query);
    QFETCH(uint, code);
    QFETCH(QString, answer);
    QString error;
    auto m = freshMachine(m_dir, profile, &error);
    QVERIFY2(m, qPrintable(error));
    System& system = m->system();
    std::string result;
    const bool variable = query.startsWith(QLatin1Char('%'));
    if (variable)
        QCOMPARE(uint(system.getEnvironmentVariable(query.mid(1, query.size() - 2).toStdString(), &result)), code);
    else if (query == QLatin1String("windows"))
        QCOMPARE(uint(system.getWindowsDirectory(&result)), code);
    else if (query == QLatin1String("system"))
        QCOMPARE(uint(system.getSystemDirectory(&result)), code);
    else if (query == QLatin1String("drive"))
        QCOMPARE(uint(system.getSystemDrive(&result)), code);
    else
        QCOMPARE(uint(system.getFolderPath(query.toInt(), &result)), code);
    QCOMPARE(system.shellFolderApiAvailable(), !profile.contains(QLatin1String("shellFolderLibrary")));
    if (code != ERROR_SUCCESS)
        return;
    QCOMPARE(QString::fromStdString(result), answer);
    if (variable && query != QLatin1String("%TEMP%"))
        return;
    std::uint32_t attributes = 0;
    QCOMPARE(m->files().getFileAttributes(result, &attributes), ERROR_SUCCESS);
    QVERIFY(attributes & FILE_ATTRIBUTE_DIRECTORY);
    QVERIFY(QFileInfo(m->hostPath(answer)).isDir());
}

void TstPlatform::folderMadeOnRequest()
{
    // A folder missing on disk is found only when the caller asks for it to be made; and a
    // variable's name holds no "=".
    auto m = freshMachine(m_dir, QStringLiteral("winxp-sp2"));
    QVERIFY(m);
    std::string path;
    QCOMPARE(m->system().getFolderPath(csidl::APPDATA, &path), S_OK);
    const QString host = m->hostPath(QString::fromStdString(path));
    QVERIFY(QDir(host).removeRecursively());
    QCOMPARE(m->system().getFolderPath(csidl::APPDATA, &path), E_FAIL);
    QCOMPARE(m->system().getFolderPath(csidl::APPDATA | csidl::FLAG_CREATE, &path), S_OK);
    QVERIFY(QFileInfo(host).isDir());
    QCOMPARE(m->system().setEnvironmentVariable("A=B", &path), ERROR_INVALID_PARAMETER);
}

// Every mistake a profile file can hold is refused with the file's name and what is wrong:
// the whole message where the row gives it whole, else its beginning.
void TstPlatform::profileErrors_data()
{
    QTest::addColumn<QString>("json"); // a whole profile when it starts with "{", else items of one on winxp-sp2
    QTest::addColumn<QString>("error"); // after "profile \"PATH\": "

    const auto mappings = [](const QString& extra) {
        return QStringLiteral(R"("connections": {"X": {"mappings": [{"name": "Web", "externalPort": 80, "internalPort": 80,
                                  "target": "10.0.0.1"%1]}})").arg(extra);
    };
    const auto device = [](const QString& entry) { return QStringLiteral(R"("devices": [%1])").arg(entry); };
    QTest::newRow("broken JSON") << "{\n  \"os\": {\n}" << "invalid JSON at line 3, column 2: unterminated object";
    QTest::newRow("not an object") << "[1]" << "the top level must be a JSON object";
    QTest::newRow("no os") << "{}" << "\"os\" is missing (an object)";
    QTest::newRow("missing major") << R"({"os": {"platformId": 2, "minor": 1, "build": 1}})" << "\"os.major\" is missing";
    QTest::newRow("text for a number") << R"({"os": {"platformId": 2, "major": "5", "minor": 1, "build": 1}})"
                                       << "\"os.major\" must be an integer from 0 to 255";
    QTest::newRow("bad platform") << R"({"os": {"platformId": 3, "major": 5, "minor": 1, "build": 1}})"
                                  << "\"os.platformId\" must be an integer from 1 to 2";
    QTest::newRow("wow64 not a flag") << R"("wow64": "yes")" << "\"wow64\" must be true or false";
    QTest::newRow("user escapes") << R"("user": "../../etc")" << "\"user\" must be a plain folder name";
    QTest::newRow("folder escapes") << R"("shellFolders": {"26": "C:\\..\\..\\x"})"
                                    << "\"shellFolders.26\" must be null or a path on drive C: such as \"C:\\\\Data\"";
    QTest::newRow("negative registry number") << R"("registry": {"HKLM\\X": {"bad": {"type": "REG_DWORD", "value": -1}}})"
                                              << "\"registry.HKLM\\X.bad\" \"value\" must be a non-negative integer that fits the type";
    QTest::newRow("misspelt key") << R"("adminstrator": false)"
                                  << "unknown key \"adminstrator\" (known keys: " + MachineProfile::knownKeys().join(", ") + ")";
    QTest::newRow("unknown base") << R"({"inherits": "winxp-sp9"})"
                                  << "\"inherits\": unknown profile \"winxp-sp9\" (built-in profiles: "
                                     "vista, vista-x64, win2000, win2003, win95, win98, win98se, winme, winxp-sp1, winxp-sp2)";
    // Read without end before: a device is no profile.
    QTest::newRow("inherits a device") << R"({"inherits": "/dev/zero"})"
                                       << "\"inherits\": profile file \"/dev/zero\" cannot be read: not a regular file";
    // Before, the key was made under a name that no call could find again.
    QTest::newRow("unpaired surrogate") << R"("registry": {"HKLM\\SOFTWARE\\X": {"a\ud800b": "v"}})"
                                        << "\"a\\ud800b\" is not valid Unicode (an unpaired surrogate)";
    QTest::newRow("installer version a number") << R"("installerVersion": 2)" << "\"installerVersion\" must be null or a version";
    QTest::newRow("installer version of five parts") << R"("installerVersion": "1.2.3.4.5")"
                                                     << "\"installerVersion\" must be null or a version";
    QTest::newRow("installer version above 65535") << R"("installerVersion": "1.70000")"
                                                   << "\"installerVersion\" must be null or a version";
    // The staged services.
    QTest::newRow("service typo") << R"("services": {"A": {"startSecond": 1}})" << "\"services.A.startSecond\" is unknown";
    QTest::newRow("service hang") << R"("services": {"A": {"hangs": "running"}})" << "\"services.A.hangs\" must be";
    QTest::newRow("service not an object") << R"("services": {"A": true})" << "\"services.A\" must be an object";
    // The firewall and the connections.
    QTest::newRow("firewall flag") << R"("firewall": {"manager": 1})" << "\"firewall.manager\" must be true or false";
    QTest::newRow("firewall key") << R"("firewall": {"on": true})" << "\"firewall.on\" is unknown";
    QTest::newRow("connections list") << R"("connections": [])" << "\"connections\" must be an object";
    QTest::newRow("connection entry") << R"("connections": {"X": 3})" << "\"connections.X\" must be an object or null";
    QTest::newRow("connection type") << R"("connections": {"X": {"type": "modem"}})" << "\"connections.X.type\" must be one of";
    QTest::newRow("connection status") << R"("connections": {"X": {"status": "up"}})" << "\"connections.X.status\" must be one of";
    QTest::newRow("connection guid") << R"("connections": {"X": {"guid": "{1}"}})" << "\"connections.X.guid\" must be a GUID";
    QTest::newRow("same guid") << R"("connections": {"X": {}, "Y": {"guid": "{00000000-0000-0000-0000-000000000001}"},
                                   "Z": {"guid": "{00000000-0000-0000-0000-000000000001}"}})"
                               << "\"connections.Z.guid\" is that of another connection";
    QTest::newRow("connection key") << R"("connections": {"X": {"speed": 1}})" << "\"connections.X.speed\" is unknown";
    QTest::newRow("mappings") << R"("connections": {"X": {"mappings": {}}})" << "\"connections.X.mappings\" must be a list";
    QTest::newRow("port") << mappings(R"(, "externalPort": 65536})")
                          << "\"connections.X.mappings[0].externalPort\" must be an integer from 1 to 65535";
    QTest::newRow("no port") << R"("connections": {"X": {"mappings": [{"name": "Web", "internalPort": 80, "target": "a"}]}})"
                             << "\"connections.X.mappings[0].externalPort\" is missing";
    QTest::newRow("protocol") << mappings(R"(, "protocol": "icmp"})")
                              << "\"connections.X.mappings[0].protocol\" must be one of \"tcp\", \"udp\"";
    QTest::newRow("no target") << R"("connections": {"X": {"mappings": [{"name": "Web", "externalPort": 1, "internalPort": 1}]}})"
                               << "\"connections.X.mappings[0].target\" is missing";
    QTest::newRow("mapping key") << mappings(R"(, "open": true})") << "\"connections.X.mappings[0].open\" is unknown";
    QTest::newRow("repeated mapping") << mappings(R"(}, {"name": "Web", "externalPort": 80, "internalPort": 81, "target": "a"})")
                                      << "\"connections.X.mappings[1]\" repeats the protocol and external port";
    // The devices.
    QTest::newRow("devices not a list") << R"("devices": {})" << "\"devices\" must be a list of devices";
    QTest::newRow("device not an object") << device("3") << "\"devices[0]\" must be an object";
    QTest::newRow("device key") << device(R"({"instanceId": "ROOT\\X\\0", "speed": 1})") << "\"devices[0].speed\" is unknown (known: ";
    QTest::newRow("id without instance") << device(R"({"instanceId": "USB"})") << "\"devices[0].instanceId\" must be a device instance id";
    QTest::newRow("id with an empty part") << device(R"({"instanceId": "USB\\\\1"})")
                                           << "\"devices[0].instanceId\" must be a device instance id";
    QTest::newRow("class name") << device(R"({"instanceId": "ROOT\\X\\0", "className": "Toaster"})")
                                << "\"devices[0].className\" is no class known by name";
    QTest::newRow("class GUID") << device(R"({"instanceId": "ROOT\\X\\0", "classGuid": "{1}"})")
                                << "\"devices[0].classGuid\" must be a GUID";
    QTest::newRow("driver without class") << device(R"({"instanceId": "ROOT\\X\\0", "driver": "x"})")
                                          << "\"devices[0].driver\" needs the node's \"classGuid\"";
    QTest::newRow("hardware ids") << device(R"({"instanceId": "ROOT\\X\\0", "hardwareIds": [1]})")
                                  << "\"devices[0].hardwareIds\" must be a list of non-empty strings";
    QTest::newRow("problem") << device(R"({"instanceId": "ROOT\\X\\0", "problem": 256})") << "\"devices[0].problem\" must be an integer";
    QTest::newRow("children") << device(R"({"instanceId": "ROOT\\X\\0", "children": {}})") << "\"devices[0].children\" must be a list";
    QTest::newRow("child names a parent")
        << device(R"({"instanceId": "ROOT\\X\\0", "children": [{"instanceId": "A\\B\\C", "parent": "D"}]})")
        << "\"devices[0].children[0].parent\" is given by the node the child is in";
    QTest::newRow("volume type") << device(R"({"instanceId": "ROOT\\X\\0", "volume": {"type": "floppy"}})")
                                 << "\"devices[0].volume.type\" must be one of \"removable\"";
    QTest::newRow("volume letter") << device(R"({"instanceId": "ROOT\\X\\0", "volume": {"letter": "EF"}})")
                                   << "\"devices[0].volume.letter\" must be one letter from A to Z";
    QTest::newRow("mount delay") << device(R"({"instanceId": "ROOT\\X\\0", "volume": {"mountDelay": -1}})")
                                 << "\"devices[0].volume.mountDelay\" must be a number from 0 to 3600";
    QTest::newRow("device there already") << device(R"({"instanceId": "acpi\\pnp0a03\\0"})")
                                          << "\"devices\": device \"acpi\\pnp0a03\\0\" is there already";
    QTest::newRow("parent missing") << device(R"({"instanceId": "ROOT\\X\\0", "parent": "ROOT\\NONE\\0"})")
                                    << "\"devices\": the parent \"ROOT\\NONE\\0\" of device \"ROOT\\X\\0\" is not there";
    QTest::newRow("letter taken") << device(R"({"instanceId": "ROOT\\X\\0", "volume": {"letter": "c"}})")
                                  << "\"devices\": the letter C: of device \"ROOT\\X\\0\" is taken";
}

void TstPlatform::profileErrors()
{
    QFETCH(QString, json);
    QFETCH(QString, error);
    const QString path = m_dir.filePath(QStringLiteral("bad.json"));
    const QString text = json.startsWith(QLatin1Char('{')) || json.startsWith(QLatin1Char('['))
        ? json : QStringLiteral(R"({"inherits": "winxp-sp2", %1})").arg(json);
    QVERIFY(testsupport::writeFile(path, text.toUtf8()));
    std::string message;
    QVERIFY(!openMachine(path.toStdString(), std::string(), &message));
    const QString expected = QStringLiteral("profile \"%1\": ").arg(path) + error;
    QCOMPARE(QString::fromStdString(message).left(expected.size()), expected);
}

void TstPlatform::inheritsAndKeepsSubsystemTables()
{
    const QString base = m_dir.filePath(QStringLiteral("base.json"));
    const QString derived = m_dir.filePath(QStringLiteral("derived.json"));
    QVERIFY(testsupport::writeFile(base, R"({"inherits": "win2003", "wow64": true, "systemProcesses": [{"name": "lsass.exe"}], "tools": {}})"));
    QVERIFY(testsupport::writeFile(derived, R"({"inherits": "base.json", "os": {"build": 3791}})"));

    MachineProfile profile;
    QString error;
    QVERIFY2(profile.load(derived, &error), qPrintable(error));
    QCOMPARE(profile.name(), derived);
    QCOMPARE(profile.version().minorVersion, 2u);
    QCOMPARE(profile.version().buildNumber, 3791u);
    QVERIFY(profile.wow64());
    QVERIFY(profile.json().value(QStringLiteral("systemProcesses")).isArray());

    // A misspelt key is refused in the file that holds it, also when inherited.
    QVERIFY(testsupport::writeFile(base, R"({"inherits": "win2003", "servcies": {}})"));
    QVERIFY(!profile.load(derived, &error));
    QVERIFY2(error.startsWith(QStringLiteral("profile \"base.json\": unknown key \"servcies\"")), qPrintable(error));
}

void TstPlatform::subsystemsFollowTheOpenedMachine()
{
    // Every subsystem answers from the machine opened last, never from the one it replaced,
    // nor from one that could not be opened.
    const QStringList profiles{QStringLiteral("win2000"), QStringLiteral("winxp-sp2")};
    const QStringList windows{QStringLiteral("WINNT"), QStringLiteral("WINDOWS")};
    for (int i = 0; i < profiles.size(); ++i) {
        const QString folder = m_dir.filePath(QStringLiteral("follow%1").arg(i));
        std::string error;
        QVERIFY2(openMachine(profiles[i].toStdString(), folder.toStdString(), &error), error.c_str());
        std::string path;
        QCOMPARE(system().getWindowsDirectory(&path), ERROR_SUCCESS);
        QCOMPARE(QString::fromStdString(path), QStringLiteral("C:\\") + windows[i]);
        QCOMPARE(QString::fromStdString(files().localFilePath(path)),
                 QDir(folder).absolutePath() + QStringLiteral("/drive_c/") + windows[i]);
        HKEY key = HKEY_NULL;
        QCOMPARE(registry().regOpenKeyEx(HKEY_CURRENT_USER, "Software\\Follow", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
        QCOMPARE(registry().regCreateKeyEx(HKEY_CURRENT_USER, "Software\\Follow", 0, KEY_ALL_ACCESS, &key, nullptr),
                 ERROR_SUCCESS);
        QCOMPARE(registry().regCloseKey(key), ERROR_SUCCESS);
        // A program started now writes to this machine's console log.
        ProcessHandlePtr child;
        QCOMPARE(processes().createProcess("/bin/echo follow" + std::to_string(i), nullptr, &child), ERROR_SUCCESS);
        QCOMPARE(child->wait(INFINITE), WAIT_OBJECT_0);
        QCOMPARE(testsupport::readFile(folder + QStringLiteral("/console.log")), "follow" + QByteArray::number(i) + '\n');
        QCOMPARE(currentProfileName(), profiles[i].toStdString());
        QCOMPARE(QString::fromStdString(currentMachineFolder()), QDir(folder).absolutePath());
        QVERIFY(QFileInfo(folder + QStringLiteral("/drive_c/") + windows[i] + QStringLiteral("/system32")).isDir());
    }

    // A machine that cannot be opened leaves the current one in place.
    System& before = system();
    std::string error;
    QVERIFY(!openMachine("no-such-profile", std::string(), &error));
    const QString plain = m_dir.filePath(QStringLiteral("plain-file"));
    QVERIFY(testsupport::writeFile(plain, QByteArray()));
    QVERIFY(!openMachine("winxp-sp2", plain.toStdString(), &error));
    QVERIFY2(error.find("is not a directory") != std::string::npos, error.c_str());
    QCOMPARE(&system(), &before);
    QCOMPARE(currentProfileName(), std::string("winxp-sp2"));
}

void TstPlatform::fileCalls_data()
{
    // The machine holds C:\Program Files\Demo\a.txt, a read-only C:\ro.txt and a link
    // C:\out to a host folder %OUT% that holds media.txt; the test runs in %OUT%.
    QTest::addColumn<QString>("call"); // write, read, mkdir, delete
    QTest::addColumn<QString>("path");
    QTest::addColumn<uint>("code");
    QTest::addColumn<QString>("lands"); // below drive_c, for a write that succeeds

    QTest::newRow("a folder's last dot, a name's dots and blanks") << "write" << "C:\\Program Files.\\Demo\\x.txt. " << 0u << "Program Files/Demo/x.txt";
    QTest::newRow(".. stops at the root") << "write" << "C:\\Program Files\\..\\..\\..\\up.txt" << 0u << "up.txt";
    QTest::newRow("root of the current drive") << "mkdir" << "\\Rooted" << 0u << "Rooted";
    QTest::newRow("host path outside") << "write" << "%OUT%/x.txt" << uint(ERROR_ACCESS_DENIED) << "";
    QTest::newRow("relative path outside") << "mkdir" << "made" << uint(ERROR_ACCESS_DENIED) << "";
    QTest::newRow("machine record") << "write" << "%FOLDER%/machine.lock" << uint(ERROR_ACCESS_DENIED) << "";
    QTest::newRow("through a link out") << "write" << "C:\\out\\x.txt" << uint(ERROR_ACCESS_DENIED) << "";
    QTest::newRow("network") << "read" << "\\\\server\\share\\x.txt" << uint(ERROR_PATH_NOT_FOUND) << "";
    QTest::newRow("host media may be read") << "read" << "%OUT%/media.txt" << 0u << "";
    QTest::newRow("read through a link") << "read" << "C:\\out\\media.txt" << 0u << "";
    QTest::newRow("read-only not overwritten") << "write" << "C:\\ro.txt" << uint(ERROR_ACCESS_DENIED) << "";
    QTest::newRow("read-only not deleted") << "delete" << "C:\\ro.txt" << uint(ERROR_ACCESS_DENIED) << "";
}

void TstPlatform::fileCalls()
{
    QFETCH(QString, call);
    QFETCH(QString, path);
    QFETCH(uint, code);
    QFETCH(QString, lands);
    auto m = freshMachine(m_dir, QStringLiteral("winxp-sp2"));
    QVERIFY(m);
    QTemporaryDir outside;
    QVERIFY(testsupport::writeFile(outside.filePath(QStringLiteral("media.txt")), "media"));
    QVERIFY(QDir().mkpath(m->hostPath(QStringLiteral("C:\\Program Files\\Demo"))));
    QVERIFY(testsupport::writeFile(m->driveC() + QStringLiteral("/ro.txt"), QByteArray()));
    QVERIFY(QFile::setPermissions(m->driveC() + QStringLiteral("/ro.txt"), QFileDevice::ReadOwner));
    QVERIFY(QFile::link(outside.path(), m->driveC() + QStringLiteral("/out")));
    const QString before = QDir::currentPath();
    QDir::setCurrent(outside.path());

    const std::string given = QString(path).replace(QLatin1String("%OUT%"), outside.path())
                                  .replace(QLatin1String("%FOLDER%"), m->folder()).toStdString();
    FileHandlePtr file;
    std::uint32_t result = 0xFFFFFFFFu;
    if (call == QLatin1String("write") && (result = m->files().createFile(given, GENERIC_WRITE, CREATE_ALWAYS, &file)) == 0) {
        std::uint32_t done = 0;
        QCOMPARE(file->write("data", 4, &done), ERROR_SUCCESS);
        QCOMPARE(done, 4u);
    } else if (call == QLatin1String("read") && (result = m->files().createFile(given, GENERIC_READ, OPEN_EXISTING, &file)) == 0) {
        char buffer[8];
        std::uint32_t done = 0;
        QCOMPARE(file->read(buffer, sizeof buffer, &done), ERROR_SUCCESS);
        QCOMPARE(QByteArray(buffer, int(done)), QByteArray("media"));
    } else if (call == QLatin1String("mkdir")) {
        result = m->files().createDirectory(given);
    } else if (call == QLatin1String("delete")) {
        result = m->files().deleteFile(given);
    }
    file.reset();
    QDir::setCurrent(before);
    QCOMPARE(result, code);
    if (!lands.isEmpty())
        QVERIFY2(QFileInfo::exists(m->driveC() + QLatin1Char('/') + lands), qPrintable(lands));
    // Nothing was written outside drive C:.
    QCOMPARE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"media.txt"});
    for (const QString& name : QDir(m->folder()).entryList(QDir::Files))
        QVERIFY2(name.startsWith(QLatin1String("machine.")), qPrintable(name));
    QCOMPARE(QFileInfo(m->folder() + QStringLiteral("/machine.lock")).size(), 0);
}

void TstPlatform::listingAndAttributes()
{
    auto m = freshMachine(m_dir, QStringLiteral("winxp-sp2"));
    QVERIFY(m);
    const QString demo = m->hostPath(QStringLiteral("C:\\Demo"));
    QVERIFY(QDir().mkpath(demo + QStringLiteral("/Sub")));
    for (const char* name : {"/b.txt", "/A.txt", "/.hidden"})
        QVERIFY(testsupport::writeFile(demo + QLatin1String(name), "12"));
    QVERIFY(QFile::setPermissions(demo + QStringLiteral("/b.txt"), QFileDevice::ReadOwner));
    QVERIFY(QFile::link(demo + QStringLiteral("/Sub"), demo + QStringLiteral("/link")));
    std::vector<FindData> entries;
    QCOMPARE(m->files().findFiles("c:/demo", &entries), ERROR_SUCCESS);
    QStringList got;
    for (const FindData& entry : entries)
        got << QStringLiteral("%1 %2 %3").arg(QString::fromStdString(entry.name)).arg(entry.attributes, 0, 16).arg(entry.size);
    // By name without regard to case; a link shows its target's kind and is marked.
    QCOMPARE(got, (QStringList{".hidden 80 2", "A.txt 80 2", "b.txt 1 2", "link 410 0", "Sub 10 0"}));
    std::uint32_t attributes = 0;
    QCOMPARE(m->files().getFileAttributes("C:\\DEMO\\B.TXT", &attributes), ERROR_SUCCESS);
    QCOMPARE(attributes, FILE_ATTRIBUTE_READONLY);
}

void TstPlatform::debuggerCapture()
{
    auto m = freshMachine(m_dir, QStringLiteral("winxp-sp2"));
    QVERIFY(m);
    m->system().outputDebugString("before\n");
    QVERIFY(m->setDebuggerCapture(true));
    m->system().outputDebugString("[state               ]");
    m->system().outputDebugString("caf\xc3\xa9\n");
    QVERIFY(m->setDebuggerCapture(false));
    m->system().outputDebugString("after\n");
    QCOMPARE(testsupport::readFile(m->debuggerLogPath()), QByteArray("[state               ]caf\xc3\xa9\n"));
}

QTEST_GUILESS_MAIN(TstPlatform)
#include "tst_platform.moc"
