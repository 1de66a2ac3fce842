// The installer engine and component states, each case on a fresh emulated machine, and
// CModVersionInfo on images written here.

#include "fsm/cstate.h"
#include "fsm/cstatefactory.h"
#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/emulatedprocess.h"
#include "platform/emulated/pewriter.h"
#include "states/cmodversioninfo.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "support/freshmachine.h"
#include "support/pluginstates.h"
#include "support/tracecapture.h"

#include <memory>

using namespace winsteps::platform;

namespace {

const QString ClassA = QStringLiteral("{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}");
const QString ClassB = QStringLiteral("{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F02}");
const QString PluginPath = QStringLiteral("C:/media/dir/sub/comp.ocx");
const QByteArray Component = "winsteps component\nclass " + ClassA.toLatin1() + "\nprogid Demo.A\n";

// A class of the registry below HKEY_CLASSES_ROOT (view: "" or "Wow6432Node\\") with its ProgID.
QString classKeys(const QString& view, const QString& clsid, const QString& progId, const QString& server)
{
    return QStringLiteral(R"("HKCR\\%1CLSID\\%2\\InprocServer32": {"@": "%3"}, "HKCR\\%4\\CLSID": {"@": "%2"})")
        .arg(QString(view).replace(QLatin1String("\\"), QLatin1String("\\\\")), clsid,
             QString(server).replace(QLatin1String("\\"), QLatin1String("\\\\")), progId);
}

} // namespace

class TstComponentStates : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv(emulated::toolHostVariable, WINSTEPS_EXE);
        QLoggingCategory::setFilterRules(QStringLiteral("winsteps.thread.debug=false"));
        m_factory.reset(createFactory(nullptr));
    }
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("ASSERT"))); } // unless a test expects it
    void installMsi_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("forceReboot");
        QTest::addColumn<int>("exitCode"); // of the redistributable; -1: there is none
        QTest::addColumn<QString>("event");
        QTest::addColumn<QStringList>("trace"); // the lines of the module systemCheck

        const QString win98 = QStringLiteral(R"("inherits": "win98")");
        const QString old = QStringLiteral("Microsoft Installer version 1.10 detected.");
        const QString missing = QStringLiteral("Microsoft Installer not found.");
        const QString ran = QStringLiteral("--- State step: actionFinished - result = 0");
        QTest::newRow("XP: nothing to do, nothing traced") << R"("inherits": "winxp-sp2")" << "yes" << 0 << "finished" << QStringList();
        QTest::newRow("98 with 1.10, the redistributable returns 0") << win98 << "" << 0 << "needReboot" << QStringList{old, ran};
        QTest::newRow("98 with 1.10, the redistributable returns 1603") << win98 << "" << 1603 << "failed" << QStringList{old, ran};
        QTest::newRow("98 without the redistributable") << win98 << "no" << -1 << "failed"
                                                        << QStringList{old, "--- State step: actionFinished - result = 1"};
        QTest::newRow("forceReboot with 2.0: the version test comes first")
            << R"("inherits": "win98", "installerVersion": "2.0")" << "yes" << 0 << "finished"
            << QStringList{"Microsoft Installer version 2.0 detected."};
        QTest::newRow("95 without an engine runs the redistributable") << R"("inherits": "win95")" << "" << 0 << "finished"
                                                                       << QStringList{missing, ran};
        QTest::newRow("no engine and forceReboot") << R"("inherits": "winme", "installerVersion": null)" << "true" << 0
                                                   << "needReboot" << QStringList{missing, ran};
    }

    void installMsi()
    {
        QFETCH(QString, profile);
        QFETCH(QString, forceReboot);
        QFETCH(int, exitCode);
        QFETCH(QString, event);
        QFETCH(QStringList, trace);

        machine(profile);
        if (exitCode >= 0)
            write(QStringLiteral("C:\\media\\InstMsiA.exe"), QStringLiteral("#!/bin/sh\necho InstMsiA \"$@\"\nexit %1\n").arg(exitCode).toUtf8(), true);
        TraceCapture traces;
        QCOMPARE(run(QStringLiteral("systemCheck_installMSI"), {"msiPath=C:\\media", "forceReboot=" + forceReboot}), event);
        QCOMPARE(traces.lines(winsteps::module::systemCheck), trace);
        QFile console(m_folder + QStringLiteral("/console.log")); // what the machine's programs wrote
        QCOMPARE(console.open(QIODevice::ReadOnly) ? console.readAll() : QByteArray(),
                 trace.size() > 1 && exitCode >= 0 ? QByteArray("InstMsiA /Q\n") : QByteArray());
    }

    void installAxComponent_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QByteArray>("plugin"); // the file at PluginPath; empty: none
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("trace"); // the line of the module systemCheck
        QTest::addColumn<QStringList>("registration"); // regsvr32's command and arguments; empty: not run
        QTest::addColumn<QString>("after"); // checkAxComponent's event afterwards

        const QString xp = QStringLiteral(R"("inherits": "winxp-sp2")");
        const QString installing = QStringLiteral("installing component...");
        const QStringList xpRegistration{"regsvr32.exe", "/s", "C:\\WINDOWS\\system32/comp.ocx"};
        QTest::newRow("copied into the system folder and registered there")
            << xp << Component << "success" << installing << xpRegistration << "installed";
        QTest::newRow("on 98 too, where COM is started for the test")
            << R"("inherits": "win98")" << Component << "success" << installing
            << QStringList{"regsvr32.exe", "/s", "C:\\WINDOWS\\SYSTEM/comp.ocx"} << "installed";
        QTest::newRow("already registered: nothing copied or run")
            << xp + ", \"registry\": {" + classKeys("", ClassA, "Demo.A", "C:\\media\\dir\\sub\\comp.ocx") + "}" << Component
            << "success" << "Component exists." << QStringList() << "installed";
        QTest::newRow("a file that is no component: regsvr32 fails")
            << xp << QByteArray("MZ\x90") << "failed" << installing << xpRegistration << "notInstalled";
        QTest::newRow("no file to copy: regsvr32 fails") << xp << QByteArray() << "failed" << installing << xpRegistration
                                                         << "notInstalled";
    }

    void installAxComponent()
    {
        QFETCH(QString, profile);
        QFETCH(QByteArray, plugin);
        QFETCH(QString, event);
        QFETCH(QString, trace);
        QFETCH(QStringList, registration);
        QFETCH(QString, after);

        machine(profile);
        if (!plugin.isEmpty())
            write(PluginPath, plugin);
        TraceCapture traces;
        const std::unique_ptr<CState> state = create(QStringLiteral("installAxComponent"), {"identifier=Demo.A", "pluginPath=" + PluginPath});
        QCOMPARE(run(state.get()), event);
        QCOMPARE(traces.lines(winsteps::module::systemCheck), QStringList{trace});
        QCOMPARE(state->property("argumentList").toStringList(), registration);
        QCOMPARE(run(QStringLiteral("checkAxComponent"), {"identifier=" + ClassA}), after);
    }

    // One WOW64 machine for every identifier; each row is "identifier=event".
    void checkAxComponent()
    {
        const QString gone = QStringLiteral("{6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F03}");
        machine(R"("inherits": "vista-x64", "registry": {)" + classKeys("Wow6432Node\\", ClassA, "Demo.A", "C:\\comp.ocx") + ", "
                + classKeys("", ClassB, "Demo.B", "C:\\comp.ocx") + ", " + classKeys("Wow6432Node\\", gone, "Demo.Gone", "C:\\gone.ocx") + "}");
        write(QStringLiteral("C:\\comp.ocx"), Component);
        const QStringList rows{"Demo.A=installed", // a class of the 32-bit view, by ProgID and by class text in any case
                               ClassA.toLower() + "=installed", "Demo.B=notInstalled", // the 64-bit view only
                               ClassB + "=notInstalled", "Demo.Gone=notInstalled", // its server file is missing
                               "Demo.None=notInstalled", "=notInstalled"};
        for (const QString& row : rows) {
            const QString identifier = row.section(QLatin1Char('='), 0, 0);
            QCOMPARE(identifier + "=" + run(QStringLiteral("checkAxComponent"), {"identifier=" + identifier}), row);
        }
    }

    // A state whose action was taken away (reset) has no program to run: it leaves by "failed".
    void withoutAction()
    {
        machine(QStringLiteral(R"("inherits": "win98")"));
        for (const QString type : {"systemCheck_installMSI", "installAxComponent"}) {
            const std::unique_ptr<CState> state = create(type, {"msiPath=C:\\media", "identifier=Demo.A", "pluginPath=" + PluginPath});
            state->reset();
            QCOMPARE(type + "=" + run(state.get()), type + "=failed");
        }
    }

    // One machine for every file; each row: file (a machine path, "" the running module), major,
    // minor, the member that the warning names ("" none).
    void modVersionInfo()
    {
        machine(QStringLiteral(R"("inherits": "win98")"));
        emulated::pe::VersionInfo version;
        const std::uint16_t numbers[4] = {65535, 2, 3, 4};
        std::copy(numbers, numbers + 4, version.fileVersion);
        const std::vector<std::uint8_t> bytes = emulated::pe::programImage(version);
        const QByteArray image(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
        write(QStringLiteral("C:\\versioned.exe"), image);
        write(QStringLiteral("C:\\unsigned.exe"), QByteArray(image).replace(QByteArray("\xBD\x04\xEF\xFE", 4), QByteArray(4, '\0')));
        write(QStringLiteral("C:\\text.exe"), "text");
        const QList<std::tuple<QString, int, int, QString>> rows{
            {"C:\\versioned.exe", 65535, 2, ""}, {"C:\\unsigned.exe", 0, 0, "m_pFileVersionInfo"}, // no fixed record
            {"C:\\text.exe", 0, 0, ""}, {"C:\\missing.exe", 0, 0, ""}, {"", 0, 0, ""}}; // the test program: no version
        for (const auto& [file, major, minor, missing] : rows) {
            if (!missing.isEmpty())
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^ASSERT: \"" + missing + "\" in modversioninfo_win \\(\\d+\\)$"));
            const CModVersionInfo info(file);
            QCOMPARE(QStringLiteral("%1 %2.%3 %4").arg(file).arg(info.majorVersion()).arg(info.minorVersion()).arg(info.isValid()),
                     QStringLiteral("%1 %2.%3 %4").arg(file).arg(major).arg(minor).arg(major != 0));
        }
    }

private:
    // A fresh machine from the profile's keys (JSON without its braces); the machine runs the
    // redistributable's file itself rather than a tool of that name.
    void machine(const QString& keys)
    {
        std::string error;
        m_folder = testsupport::openFreshMachine(m_dir, QStringLiteral(R"({%1, "tools": {"InstMsiA.exe": null}})").arg(keys), &error);
        QVERIFY2(!m_folder.isEmpty(), error.c_str());
    }
    void write(const QString& windowsPath, const QByteArray& content, bool executable = false)
    {
        QFile file(emulated::currentMachine().hostPath(windowsPath));
        QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        if (executable)
            QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
    }
    std::unique_ptr<CState> create(const QString& type, const QStringList& properties)
    {
        return testsupport::createState(*m_factory, type, properties);
    }
    static QString run(CState* state) { return testsupport::runState(*state); }
    QString run(const QString& type, const QStringList& properties) { return run(create(type, properties).get()); }

    QTemporaryDir m_dir;
    QString m_folder;
    std::unique_ptr<CStateFactory> m_factory;
};

QTEST_GUILESS_MAIN(TstComponentStates)
#include "tst_componentstates.moc"
