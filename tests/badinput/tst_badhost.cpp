// The bad-input catalogue of the host: malformed wizard files (refused whole, each fault with
// its file and line, no machine) and registry files given to "winsteps machine import-reg"
// (refused, the machine unchanged).

#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "fsm/cstatefactory.h"
#include "hostfactory.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "support/commandrun.h"
#include "support/files.h"

#include <algorithm>
#include <memory>

using namespace winsteps::host;
using testsupport::bytes;
using testsupport::readFile;
using testsupport::utf16;

class TstBadHost : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // The wizards NAME.xml in data/, each with the faults NAME.errors lists; and one made here.
    void wizards_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("faults"); // "LINE: message" (each error starts so), in order

        // For bytes that are no UTF-8 the toolkit names the line where it stopped reading.
        const QDir data(QStringLiteral(DATA_DIR));
        const QStringList names = data.entryList({QStringLiteral("*.xml")}, QDir::Files);
        QVERIFY2(!names.isEmpty(), DATA_DIR);
        for (const QString& name : names) {
            const QString path = data.filePath(name);
            const QString faults = QString::fromUtf8(readFile(QString(path).replace(QLatin1String(".xml"), QLatin1String(".errors"))));
            QTest::newRow(qPrintable(name)) << readFile(path) << faults.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        }
        // 100,000 nested elements would reach the toolkit's recursive document code.
        const QByteArray deep = QByteArray("<x>").repeated(100000) + QByteArray("</x>").repeated(100000);
        QTest::newRow("100000 nested elements in a state")
            << "<fsm name=\"m\" start=\"a\">\n<state name=\"a\" type=\"noop\">\n" + deep + "\n</state>\n</fsm>\n"
            << QStringList{"3: elements nested deeper than 1000 levels"};
    }

    void wizards()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, faults);

        std::unique_ptr<CStateFactory> factory(createHostFactory());
        CApplication application;
        CWizardLoader loader(factory.get());
        std::unique_ptr<CFsm> fsm(loader.loadData(body, QStringLiteral("w.xml"), &application));
        QVERIFY(!fsm);
        const QStringList errors = toTexts(loader.errors());
        QVERIFY2(errors.size() == faults.size(), qPrintable(errors.join(QLatin1Char('\n'))));
        for (qsizetype i = 0; i < faults.size(); ++i)
            QVERIFY2(errors.at(i).startsWith(QLatin1String("w.xml:") + faults.at(i)),
                     qPrintable(errors.at(i) + QLatin1String("\nwanted: w.xml:") + faults.at(i)));
    }

    void importReg_data()
    {
        QTest::addColumn<QString>("file");     // "%F" a file with content, else a path as given
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");    // the line on standard error starts so ("%F": the file)

        QTest::newRow("executable bytes") << "%F" << bytes("\x7f" "ELF\x02\x01\x01\0\0\0\x03\0>\0")
                                          << "winsteps machine import-reg: %F: line 1: not a registry file";
        QTest::newRow("UTF-16 text with a bad line")
            << "%F" << utf16(QStringLiteral("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\X\r\n"))
            << "winsteps machine import-reg: %F: line 2: a key section must end with \"]\"";
        QTest::newRow("missing file") << "/nonexistent/x.reg" << QByteArray()
                                      << "winsteps machine import-reg: cannot read \"/nonexistent/x.reg\"";
        QTest::newRow("a folder") << "/" << QByteArray() << "winsteps machine import-reg: cannot read \"/\"";
    }

    void importReg()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, error);

        const QString machine = m_dir.filePath(QStringLiteral("machine%1").arg(++m_count));
        const CommandRun init = runWinsteps({"machine", "init", machine});
        QVERIFY2(init.exitCode == 0, qPrintable(init.err));
        const CommandRun before = runWinsteps({"machine", "export-reg", machine});
        QCOMPARE(before.exitCode, 0);
        if (file == QLatin1String("%F"))
            file = writeTestFile(m_dir, m_count, content, QStringLiteral(".reg"));

        const CommandRun run = runWinsteps({"machine", "import-reg", machine, file});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(QString(error).replace(QLatin1String("%F"), file)), qPrintable(run.err));
        QCOMPARE(run.out, QString());
        const CommandRun after = runWinsteps({"machine", "export-reg", machine});
        QCOMPARE(after.exitCode, 0);
        QCOMPARE(after.out, before.out);
    }

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

QTEST_MAIN(TstBadHost)
#include "tst_badhost.moc"
