// The emulated system programs run by hand ("winsteps tool NAME ...") on fresh machine folders
// and checked through the machine commands: regsvr32 with emulated component files, instmsia
// (InstMsiA.exe) with the installer engine and WININIT.INI, devprep with driver packages.

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "platform/emulated/componentfile.h"
#include "support/commandrun.h"
#include "support/files.h"

namespace {

const QByteArray component = "winsteps component\n; a sample\nclass {6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}\n"
                             "name Demo Control\nprogid Demo.Control.1\nthreadingModel apartment\n";
const QString classKey = QStringLiteral("export-reg HKCR\\CLSID\\{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}");
const QString system98 = QStringLiteral("C:\\WINDOWS\\SYSTEM\\");
const QByteArray netInf = "[Version]\nSignature=\"$Windows NT$\"\nClass=Net\nClassGuid={4D36E972-E325-11CE-BFC1-08002BE10318}\n"
                          "[Manufacturer]\nExample=Models,NTx86\n[Models.NTx86]\n\"Example Adapter\"=Inst,PCI\\VEN_8086&DEV_100E\n"
                          "[Inst.NT]\n[Inst.NT.Services]\nAddService=e1x,2,Svc\n[Svc]\nServiceBinary=%12%\\e1x.sys\n";

} // namespace

class TstTools : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void tool_data()
    {
        QTest::addColumn<QString>("profile");      // a built-in one, or the text of a profile file
        QTest::addColumn<QString>("file");         // a file put on the machine first
        QTest::addColumn<QByteArray>("content");   // what it holds
        QTest::addColumn<QStringList>("command");  // the tool and its arguments
        QTest::addColumn<int>("exitCode");         // -1: the profile is refused, with output in the error
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("checks");   // "ACTION ARGS => TEXT": "winsteps machine ACTION DIR ARGS" (or "tool ...") says TEXT

        const QString sys32 = QStringLiteral("C:\\WINDOWS\\system32\\comp.ocx");
        const QString user = R"({"inherits": "winxp-sp2", "administrator": false})";
        const QStringList registered = {classKey + "\\InprocServer32 => @=\"C:\\\\WINDOWS\\\\system32\\\\comp.ocx\"",
                                        classKey + "\\InprocServer32 => \"ThreadingModel\"=\"Apartment\"",
                                        classKey + "\\ProgID => @=\"Demo.Control.1\"",
                                        "export-reg HKCR\\Demo.Control.1\\CLSID => @=\"{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}\""};
        QTest::newRow("regsvr32: a path with / separators registers under the module's Windows name")
            << "winxp-sp2" << sys32 << component << QStringList{"regsvr32", "C:\\WINDOWS\\system32/comp.ocx"} << 0
            << "DllRegisterServer in C:\\WINDOWS\\system32/comp.ocx succeeded.\n" << registered;
        QTest::newRow("regsvr32: a bare name is found in the system folder; /s prints nothing")
            << "win98" << system98 + "COMP.OCX" << component << QStringList{"regsvr32", "/S", "comp.ocx"} << 0 << ""
            << QStringList{classKey + "\\InprocServer32 => @=\"C:\\\\WINDOWS\\\\SYSTEM\\\\COMP.OCX\""};
        QTest::newRow("regsvr32: /u removes what it registered")
            << "winxp-sp2" << sys32 << component << QStringList{"regsvr32", "-u", sys32} << 0
            << "DllUnregisterServer in " + sys32 + " succeeded.\n"
            << QStringList{classKey + " => not found", "export-reg HKCR\\Demo.Control.1 => not found"};
        QTest::newRow("regsvr32: a 32-bit regsvr32 under WOW64 registers in the 32-bit view")
            << "vista-x64" << "C:\\Windows\\system32\\comp.ocx" << component << QStringList{"regsvr32", "/s", "comp.ocx"} << 0 << ""
            << QStringList{classKey + " => not found",
                           "export-reg HKCR\\Wow6432Node\\CLSID\\{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}\\InprocServer32 => "
                           "@=\"C:\\\\Windows\\\\system32\\\\comp.ocx\"",
                           "export-reg HKCR\\Demo.Control.1\\CLSID => @=\"{"};
        QTest::newRow("regsvr32: a user who is no administrator cannot write the classes")
            << user << sys32 << component << QStringList{"regsvr32", sys32} << 5
            << "DllRegisterServer in " + sys32 + " failed. Return code was: 0x80070005\n" << QStringList{classKey + " => not found"};
        QTest::newRow("regsvr32: a missing file cannot be loaded")
            << "winxp-sp2" << "" << QByteArray() << QStringList{"regsvr32", "C:\\none.ocx"} << 3
            << "LoadLibrary(\"C:\\none.ocx\") failed - The specified module could not be found.\n" << QStringList();
        QTest::newRow("regsvr32: a file that is no component cannot be loaded")
            << "winxp-sp2" << sys32 << QByteArray("MZ\x90") << QStringList{"regsvr32", sys32} << 3
            << "LoadLibrary(\"" + sys32 + "\") failed - The file is no component (line 1: the file does not begin with \"winsteps component\").\n"
            << QStringList();
        QTest::newRow("regsvr32: no entry point")
            << "winxp-sp2" << sys32 << component + "DllRegisterServer missing\n" << QStringList{"regsvr32", sys32} << 4
            << sys32 + " was loaded, but the DllRegisterServer entry point was not found.\n" << QStringList{classKey + " => not found"};
        QTest::newRow("regsvr32: a failing entry point writes nothing")
            << "winxp-sp2" << sys32 << component + "DllRegisterServer fails 0x8002801C\n" << QStringList{"regsvr32", sys32} << 5
            << "DllRegisterServer in " + sys32 + " failed. Return code was: 0x8002801c\n" << QStringList{classKey + " => not found"};
        QTest::newRow("regsvr32: an unknown flag") << "winxp-sp2" << sys32 << component << QStringList{"regsvr32", "/n", sys32}
                                                   << 1 << "Unrecognized flag: /n\n" << QStringList{classKey + " => not found"};
        QTest::newRow("regsvr32: no file") << "winxp-sp2" << "" << QByteArray() << QStringList{"regsvr32", "/s"} << 1 << "" << QStringList();

        const QString engine98 = system98 + "msiexec.exe";
        const QString atRestart = "renamed " + system98 + "MSIEXEC.NEW -> " + engine98
                                  + "\nrenamed C:\\WINDOWS\\WININIT.INI -> C:\\WINDOWS\\WININIT.BAK\n";
        QTest::newRow("instmsia: on 9x the engine in use is replaced at the restart, once however often it runs")
            << "win98" << "" << QByteArray() << QStringList{"instmsia", "/Q"} << 0 << ""
            << QStringList{"tool instmsia /q:a => ", "show => Installer: 1.10.1029.0",
                           R"(show --json => "target": "C:\\WINDOWS\\SYSTEM\\msiexec.exe")",
                           "reboot => " + atRestart, "show => Installer: 2.0.2600.2", "show => At the next restart: nothing"};
        QTest::newRow("instmsia: the renames of a WININIT.INI a wizard wrote go first, its other sections are left")
            << "win98" << "C:\\WINDOWS\\wininit.ini" << QByteArray("[Misc]\nC:\\a=C:\\b\n[Rename]\n; x\nnul=C:\\old.tmp\nC:\\x=\n"
                                                                    "D:\\y = C:\\z\n\n[other]\n")
            << QStringList{"instmsia", "/q", "/R:N", "/t:C:\\temp"} << 0 << ""
            << QStringList{"show => remove C:\\old.tmp\n  rename C:\\z -> D:\\y (replacing it)\n  rename " + system98 + "MSIEXEC.NEW",
                           "reboot => not removed C:\\old.tmp: not found\nnot renamed C:\\z: not found\n" + atRestart};
        QTest::newRow("instmsia: on NT the engine is replaced at once, with its dialog's line")
            << R"({"inherits": "winxp-sp2", "installerVersion": "1.10"})" << "" << QByteArray() << QStringList{"instmsia"} << 0
            << "Windows Installer 2.0 has been installed.\n"
            << QStringList{"show => Installer: 2.0.2600.2", "show => At the next restart: nothing"};
        QTest::newRow("instmsia: on 9x without an engine it is installed at once")
            << "win95" << "" << QByteArray() << QStringList{"instmsia", "/Q"} << 0 << ""
            << QStringList{"show => Installer: 2.0.2600.2", "show => At the next restart: nothing"};
        QTest::newRow("instmsia: a newer engine stays")
            << "winxp-sp2" << "" << QByteArray() << QStringList{"instmsia"} << 0
            << "A version of Windows Installer at least as new as 2.0 is already installed.\n"
            << QStringList{"show => Installer: 3.1.4000.2435"};
        QTest::newRow("instmsia: a staged failure code, nothing changed")
            << R"({"inherits": "win98", "installerRedistributable": {"exitCode": 1603}})" << "" << QByteArray()
            << QStringList{"instmsia", "/Q"} << 1603 << ""
            << QStringList{"show => Installer: 1.10.1029.0", "show => At the next restart: nothing"};
        QTest::newRow("instmsia: another switch is refused, nothing changed")
            << "win98" << "" << QByteArray() << QStringList{"instmsia", "/Q", "/C:setup"} << 1639
            << "Command line options: /Q[:A|:U] quiet, /T:<folder> extraction folder, /R:N never restart (given: /C:setup)\n"
            << QStringList{"show => At the next restart: nothing"};
        QTest::newRow("instmsia: a staged code that is no exit code is refused with the profile")
            << R"({"inherits": "win98", "installerRedistributable": {"exitCode": -1}})" << "" << QByteArray() << QStringList() << -1
            << "\"installerRedistributable.exitCode\" must be an integer from 0 to 4294967295" << QStringList();
        QTest::newRow("instmsia: an unknown key of the staging is refused")
            << R"({"inherits": "win98", "installerRedistributable": {"code": 1}})" << "" << QByteArray() << QStringList() << -1
            << "\"installerRedistributable.code\" is unknown" << QStringList();

        const QString inf = QStringLiteral("C:\\drv\\net.inf");
        const QStringList preInstall = {"devprep", "-p", "\"C:\\drv\"", "\"C:\\drv/net.inf\""};
        QTest::newRow("devprep: -p stages, -i binds the network adapter to it, -r removes it")
            << "winxp-sp2" << inf << netInf << preInstall << 0 << "pre-install C:\\drv/net.inf: done\n"
            << QStringList{"tool devprep -i \"C:\\drv\" net VEN_8086&DEV_100E => 1 matching device(s)",
                           "export-reg HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class => \"InfPath\"=\"oem0.inf\"",
                           "show => e1x", "show => oem0.inf (no provider): PCI\\VEN_8086&DEV_100E",
                           R"(show --json => "name": "oem0.inf")", "tool devprep -r PCI VEN_8086&DEV_100E => 1 matching device(s)",
                           "tool devprep -r PCI VEN_8086&DEV_100E => 0 matching device(s)"};
        QTest::newRow("devprep: -i passes over a device that is not there, -r removes it")
            << R"({"inherits": "winxp-sp2", "devices": [{"instanceId": "PCI\\VEN_8086&DEV_100E\\GONE", "hardwareIds": ["PCI\\VEN_8086&DEV_100E"], "present": false}]})"
            << inf << netInf << preInstall << 0 << "pre-install C:\\drv/net.inf: done\n"
            << QStringList{"tool devprep -i C:\\drv PCI VEN_8086&DEV_100E => 1 matching device(s)",
                           "tool devprep -r PCI VEN_8086&DEV_100E => 2 matching device(s)"};
        QTest::newRow("devprep: a malformed INF is not staged, so no device gets a driver from it")
            << "winxp-sp2" << inf << netInf.mid(10) << preInstall << 2 << "pre-install C:\\drv/net.inf: DMDEV error 9\n"
            << QStringList{"tool devprep -i C:\\drv net VEN_8086 => DMDEV error 7"};
        QTest::newRow("devprep: a user who is no administrator stages nothing")
            << user << inf << netInf << preInstall << 5 << "pre-install C:\\drv/net.inf: DMDEV error 10\n" << QStringList();
        QTest::newRow("devprep: a wrong command line") << "winxp-sp2" << "" << QByteArray() << QStringList{"devprep", "-i", "C:\\drv"}
                                                       << 1 << "Usage: devprep -p \"DRIVERDIR\" \"DRIVERDIR/FILE.inf\"\n"
                                                       "       devprep -i \"DRIVERDIR\" ENUMERATOR HARDWAREID...\n"
                                                       "       devprep -r ENUMERATOR HARDWAREID...\n" << QStringList();
    }

    void tool()
    {
        QFETCH(QString, profile);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, command);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QStringList, checks);

        const QString dir = m_dir.filePath(QString::number(++m_count));
        if (profile.startsWith('{')) {
            QVERIFY(testsupport::writeFile(dir + ".json", profile.toUtf8()));
            profile = dir + ".json";
        }
        const CommandRun init = runWinsteps({"machine", "init", dir, "--profile", profile});
        QVERIFY2(exitCode == -1 ? init.exitCode != 0 && init.err.contains(output) : init.exitCode == 0, qPrintable(init.err));
        if (exitCode == -1)
            return;
        if (!file.isEmpty()) {
            const QString host = dir + "/drive_c/" + file.mid(3).replace('\\', '/');
            QVERIFY(QDir().mkpath(QFileInfo(host).path()));
            QVERIFY(testsupport::writeFile(host, content));
        }
        qputenv("WINSTEPS_MACHINE", QFile::encodeName(dir));
        if (command.contains("-u")) // something to remove first
            QCOMPARE(runWinsteps({"tool", "regsvr32", "/s", file}).exitCode, 0);
        const CommandRun run = runWinsteps(QStringList{"tool"} + command);
        QCOMPARE(run.exitCode, exitCode & 0xFF);
        QCOMPARE(run.out, output);
        for (const QString& check : std::as_const(checks)) {
            const qsizetype arrow = check.indexOf(" => ");
            QStringList arguments = check.left(arrow).split(' ');
            if (arguments.first() != "tool")
                arguments = QStringList{"machine", arguments.first(), dir} + arguments.mid(1);
            const CommandRun after = runWinsteps(arguments);
            const QString text = check.mid(arrow + 4), said = after.out + after.err;
            QVERIFY2(said.contains(text), qPrintable(check + "\n" + said));
        }
        qunsetenv("WINSTEPS_MACHINE");
    }

    // The component file format: what a file holds, or the line that makes it none.
    void componentFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("result"); // "classes/ProgIDs/threading model of the first class", or the reason

        const QByteArray head = "winsteps component\n";
        const QByteArray demo = head + "class {6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}\n";
        QTest::newRow("comments, blanks and CRLF") << QByteArray("; c\r\n\r\n  WINSTEPS Component \r\n# x\r\n") << "0/0/";
        QTest::newRow("classes with their lines")
            << demo + "progid A.B\nprogid C\n\tthreadingModel   BOTH \nclass {6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F02}\n"
            << "2/2/Both";
        QTest::newRow("comments only") << QByteArray("; c\n") << "line 2: the file does not begin with \"winsteps component\"";
        QTest::newRow("a PE image") << QByteArray("MZ\x90\0\x03", 5) << "the file holds a NUL byte";
        QTest::newRow("too large") << head + QByteArray(64 * 1024, ';') << "the file is larger than 65536 bytes";
        QTest::newRow("a line before any class") << head + "progid A.B\n" << "line 2: \"progid\" comes before any \"class\"";
        QTest::newRow("a short class id") << head + "class {6C5E3A10}\n" << "line 2: \"{6C5E3A10}\" is no class id";
        QTest::newRow("a keyword without value") << head + "class\n" << "line 2: \"class\" needs a value";
        QTest::newRow("a ProgID starting with a digit") << demo + "progid 1A\n" << "line 3: \"1A\" is no ProgID";
        QTest::newRow("a ProgID that is a key holding the classes") << demo + "progid clsid\n" << "line 3: \"clsid\" is no ProgID";
        QTest::newRow("an unknown threading model") << demo + "threadingModel Single\n" << "line 3: the threading model";
        QTest::newRow("a success code as failure") << head + "DllRegisterServer fails 0\n" << "line 2: an entry point";
        QTest::newRow("a code beyond 32 bits") << head + "DllRegisterServer fails 0x180070005\n" << "line 2: an entry point";
        QTest::newRow("an unknown keyword") << head + "inprocserver x\n" << "line 2: unknown keyword \"inprocserver\"";
    }

    void componentFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, result);
        winsteps::platform::emulated::ComponentFile file;
        std::string why;
        if (!file.parse(text.toStdString(), &why)) {
            QVERIFY2(QString::fromStdString(why).startsWith(result), why.c_str());
            QVERIFY(file.classes.empty());
            return;
        }
        qsizetype progIds = 0;
        for (const auto& entry : file.classes)
            progIds += qsizetype(entry.progIds.size());
        const QString model = file.classes.empty() ? QString() : QString::fromStdString(file.classes.front().threadingModel);
        QCOMPARE(QStringLiteral("%1/%2/%3").arg(file.classes.size()).arg(progIds).arg(model), result);
    }

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

QTEST_GUILESS_MAIN(TstTools)
#include "tst_tools.moc"
