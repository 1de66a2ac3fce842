// The emulated system programs run by hand ("winsteps tool NAME ...") on fresh machine folders:
// regsvr32 with emulated component files, checked through export-reg.

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "platform/emulated/componentfile.h"
#include "support/commandrun.h"
#include "support/files.h"

namespace {

const char* const component = "winsteps component\n"
                              "; a sample\n"
                              "class {6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}\n"
                              "name Demo Control\n"
                              "progid Demo.Control.1\n"
                              "threadingModel apartment\n";
const QString classKey = QStringLiteral("HKCR\\CLSID\\{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}");

} // namespace

class TstTools : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void regsvr32_data()
    {
        QTest::addColumn<QString>("profile");      // a built-in one, or "user": winxp-sp2 without administrator rights
        QTest::addColumn<QString>("file");         // where the component file lies
        QTest::addColumn<QByteArray>("content");   // what it holds
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("keys");     // "KEY" followed by a line of its export; "!KEY": no such key

        const QString sys32 = QStringLiteral("C:\\WINDOWS\\system32\\comp.ocx");
        const QByteArray ocx(component);
        const QStringList registered = {classKey + "\\InprocServer32", "@=\"C:\\\\WINDOWS\\\\system32\\\\comp.ocx\"",
                                        classKey + "\\InprocServer32", "\"ThreadingModel\"=\"Apartment\"",
                                        classKey + "\\ProgID", "@=\"Demo.Control.1\"",
                                        "HKCR\\Demo.Control.1\\CLSID", "@=\"{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}\""};
        QTest::newRow("a path with / separators registers under the module's Windows name")
            << "winxp-sp2" << sys32 << ocx << QStringList{"C:\\WINDOWS\\system32/comp.ocx"} << 0
            << "DllRegisterServer in C:\\WINDOWS\\system32/comp.ocx succeeded.\n" << registered;
        QTest::newRow("a bare name is found in the system folder; /s prints nothing")
            << "win98" << "C:\\WINDOWS\\SYSTEM\\COMP.OCX" << ocx << QStringList{"/S", "comp.ocx"} << 0 << ""
            << QStringList{classKey + "\\InprocServer32", "@=\"C:\\\\WINDOWS\\\\SYSTEM\\\\COMP.OCX\""};
        QTest::newRow("/u removes what it registered")
            << "winxp-sp2" << sys32 << ocx << QStringList{"-u", sys32} << 0
            << "DllUnregisterServer in " + sys32 + " succeeded.\n" << QStringList{"!" + classKey, "!HKCR\\Demo.Control.1"};
        QTest::newRow("a 32-bit regsvr32 under WOW64 registers in the 32-bit view")
            << "vista-x64" << "C:\\Windows\\system32\\comp.ocx" << ocx << QStringList{"/s", "comp.ocx"} << 0 << ""
            << QStringList{"!" + classKey, "HKCR\\Wow6432Node\\CLSID\\{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}\\InprocServer32",
                           "@=\"C:\\\\Windows\\\\system32\\\\comp.ocx\"", "HKCR\\Demo.Control.1\\CLSID", "@=\"{"};
        QTest::newRow("a user who is no administrator cannot write the classes")
            << "user" << sys32 << ocx << QStringList{sys32} << 5
            << "DllRegisterServer in " + sys32 + " failed. Return code was: 0x80070005\n" << QStringList{"!" + classKey};
        QTest::newRow("a missing file cannot be loaded")
            << "winxp-sp2" << "" << QByteArray() << QStringList{"C:\\none.ocx"} << 3
            << "LoadLibrary(\"C:\\none.ocx\") failed - The specified module could not be found.\n" << QStringList();
        QTest::newRow("a file that is no component cannot be loaded")
            << "winxp-sp2" << sys32 << QByteArray("MZ\x90") << QStringList{sys32} << 3
            << "LoadLibrary(\"" + sys32 + "\") failed - The file is no component (line 1: the file does not begin with \"winsteps component\").\n"
            << QStringList();
        QTest::newRow("no entry point")
            << "winxp-sp2" << sys32 << ocx + "DllRegisterServer missing\n" << QStringList{sys32} << 4
            << sys32 + " was loaded, but the DllRegisterServer entry point was not found.\n" << QStringList{"!" + classKey};
        QTest::newRow("a failing entry point writes nothing")
            << "winxp-sp2" << sys32 << ocx + "DllRegisterServer fails 0x8002801C\n" << QStringList{sys32} << 5
            << "DllRegisterServer in " + sys32 + " failed. Return code was: 0x8002801c\n" << QStringList{"!" + classKey};
        QTest::newRow("an unknown flag") << "winxp-sp2" << sys32 << ocx << QStringList{"/n", sys32} << 1
                                         << "Unrecognized flag: /n\n" << QStringList{"!" + classKey};
        QTest::newRow("no file") << "winxp-sp2" << "" << QByteArray() << QStringList{"/s"} << 1 << "" << QStringList();
    }

    void regsvr32()
    {
        QFETCH(QString, profile);
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QStringList, keys);

        const QString dir = m_dir.filePath(QString::number(++m_count));
        if (profile == QLatin1String("user")) {
            profile = dir + QStringLiteral(".json");
            QVERIFY(testsupport::writeFile(profile, R"({"inherits": "winxp-sp2", "administrator": false})"));
        }
        QCOMPARE(runWinsteps({"machine", "init", dir, "--profile", profile}).exitCode, 0);
        if (!file.isEmpty()) {
            const QString host = dir + "/drive_c/" + file.mid(3).replace('\\', '/');
            QVERIFY(QDir().mkpath(QFileInfo(host).path()));
            QVERIFY(testsupport::writeFile(host, content));
        }
        qputenv("WINSTEPS_MACHINE", QFile::encodeName(dir));
        if (arguments.contains("-u")) // something to remove first
            QCOMPARE(runWinsteps({"tool", "regsvr32", "/s", file}).exitCode, 0);
        const CommandRun run = runWinsteps(QStringList{"tool", "regsvr32"} + arguments);
        qunsetenv("WINSTEPS_MACHINE");
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, output);
        for (qsizetype i = 0; i < keys.size(); ++i) {
            const bool absent = keys.at(i).startsWith('!');
            const CommandRun exported = runWinsteps({"machine", "export-reg", dir, keys.at(i).mid(absent ? 1 : 0)});
            QVERIFY2(exported.exitCode == (absent ? 1 : 0), qPrintable(keys.at(i) + exported.out + exported.err));
            if (!absent)
                QVERIFY2(exported.out.contains(keys.at(++i)), qPrintable(keys.at(i) + " not in " + exported.out));
        }
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
        QTest::newRow("empty") << QByteArray() << "line 1: the file does not begin with \"winsteps component\"";
        QTest::newRow("a PE image") << QByteArray("MZ\x90\0\x03", 5) << "the file holds a NUL byte";
        QTest::newRow("too large") << head + QByteArray(64 * 1024, ';') << "the file is larger than 65536 bytes";
        QTest::newRow("a line before any class") << head + "progid A.B\n" << "line 2: \"progid\" comes before any \"class\"";
        QTest::newRow("a short class id") << head + "class {6C5E3A10}\n" << "line 2: \"{6C5E3A10}\" is no class id";
        QTest::newRow("a keyword without value") << head + "class\n" << "line 2: \"class\" needs a value";
        QTest::newRow("a ProgID starting with a digit") << demo + "progid 1A\n" << "line 3: \"1A\" is no ProgID";
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
