// The bad-input catalogue of the host: malformed wizard files (refused whole, each fault with
// its file and line, no machine) and registry files given to "winsteps machine import-reg"
// (refused, the machine unchanged).

#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "fsm/cstatefactory.h"
#include "hostfactory.h"

#include <QTemporaryDir>
#include <QtTest>

#include "support/commandrun.h"
#include "support/files.h"

#include <algorithm>
#include <memory>

using namespace winsteps::host;
using testsupport::bytes;
using testsupport::utf16;

class TstBadHost : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void wizards_data();
    void wizards();
    void importReg_data();
    void importReg();

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

namespace {

const QByteArray fsmHead = "<fsm name=\"m\" start=\"a\">\n";
const QByteArray noopA = "<state name=\"a\" type=\"noop\"/>\n";

} // namespace

void TstBadHost::wizards_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("faults"); // "LINE: message" (each error starts so), in order

    // The toolkit names the line where it stopped reading.
    QTest::newRow("invalid UTF-8") << fsmHead + "<state name=\"\xff\xfe\" type=\"noop\"/>\n</fsm>\n"
                                   << QStringList{"1: not well-formed XML: Encountered incorrectly encoded content."};
    QTest::newRow("NUL byte") << fsmHead + bytes("<state name=\"a\0\" type=\"noop\"/>\n</fsm>\n")
                              << QStringList{"2: not well-formed XML: "};
    QTest::newRow("unclosed comment") << fsmHead + noopA + "<!-- open\n</fsm>\n" << QStringList{"3: not well-formed XML: Premature end of document."};
    QTest::newRow("undefined entity") << fsmHead + "<state name=\"&nope;\" type=\"noop\"/>\n</fsm>\n"
                                      << QStringList{"2: not well-formed XML: "};
    QTest::newRow("state type in the wrong case")
        << fsmHead + "<state name=\"a\" type=\"NOOP\"/>\n</fsm>\n" << QStringList{"2: unknown state type \"NOOP\" of state \"a\""};
    QTest::newRow("empty state type") << fsmHead + "<state name=\"a\" type=\"\"/>\n</fsm>\n"
                                      << QStringList{"2: missing attribute \"type\" on <state>"};
    QTest::newRow("state name three times")
        << fsmHead + noopA + noopA + noopA + "</fsm>\n"
        << QStringList{"3: duplicate state name \"a\" (first declared on line 2)",
                       "4: duplicate state name \"a\" (first declared on line 2)"};
    QTest::newRow("empty transition target")
        << fsmHead + noopA + "<transition from=\"a\" to=\"\" event=\"finished\"/>\n</fsm>\n"
        << QStringList{"3: missing attribute \"to\" on <transition>"};
    QTest::newRow("target differs in case")
        << fsmHead + noopA + "<transition from=\"a\" to=\"A\" event=\"finished\"/>\n</fsm>\n"
        << QStringList{"3: transition to unknown state \"A\""};
    QTest::newRow("only separators as events")
        << fsmHead + noopA + "<transition from=\"a\" to=\"a\" event=\"|\"/>\n</fsm>\n"
        << QStringList{"3: empty event name in \"|\"", "3: empty event name in \"|\""};
    QTest::newRow("empty start") << QByteArray("<fsm name=\"m\" start=\"\">\n") + noopA + "</fsm>\n"
                                 << QStringList{"1: missing attribute \"start\" on <fsm>"};
    QTest::newRow("missing document")
        << fsmHead + noopA + "<document name=\"d\" file=\"../../nowhere/missing.xml\"/>\n</fsm>\n"
        << QStringList{"3: cannot load the document \"d\": "};
    QTest::newRow("a folder as document") << fsmHead + noopA + "<document name=\"d\" file=\"/\"/>\n</fsm>\n"
                                          << QStringList{"3: cannot load the document \"d\": /: not a regular file"};
    // 100,000 nested elements would reach the toolkit's recursive document code.
    const QByteArray deep = QByteArray("<x>").repeated(100000) + QByteArray("</x>").repeated(100000);
    QTest::newRow("100000 nested elements in a state")
        << fsmHead + "<state name=\"a\" type=\"noop\">\n" + deep + "\n</state>\n</fsm>\n"
        << QStringList{"3: elements nested deeper than 1000 levels"};
    QTest::newRow("every fault of a wizard")
        << fsmHead + "<state name=\"b\" type=\"frob\"/>\n<state type=\"noop\"/>\n"
                     "<transition from=\"x\" to=\"y\" event=\"e\"/>\n<step/>\n</fsm>\n"
        << QStringList{"2: unknown state type \"frob\" of state \"b\"", "3: missing attribute \"name\" on <state>",
                       "5: unknown element <step> in <fsm>", "1: unknown start state \"a\"",
                       "4: transition from unknown state \"x\"", "4: transition to unknown state \"y\""};
}

void TstBadHost::wizards()
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

void TstBadHost::importReg_data()
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

void TstBadHost::importReg()
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

QTEST_MAIN(TstBadHost)
#include "tst_badhost.moc"
