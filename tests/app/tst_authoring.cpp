// The authoring tools of the winsteps command, run as child processes: eval prints exact
// types and values, check reports a wizard's mistakes by line, graph draws it; and the sample
// wizard that edits an XML configuration file, run end to end.

#include <QDir>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include "support/commandrun.h"
#include "support/files.h"

namespace {

using Run = CommandRun;

const QString Example = QStringLiteral(EXAMPLES_DIR "/");
const QString Data = QStringLiteral(DATA_DIR "/");

QString readData(const QString& name)
{
    return QString::fromUtf8(testsupport::readFile(Data + name));
}

const char* const Document = R"xml(<r>
  <item id="a">one</item>
  <item id="b">two</item>
  <group><item id="c">three</item></group>
</r>
)xml";

} // namespace

class TstAuthoring : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

    QString writeFile(const QByteArray& text, const QString& suffix = QStringLiteral(".xml"))
    {
        return writeTestFile(m_dir, m_files, text, suffix);
    }

    // Runs a wizard with --report and reads the report.
    ReportRun runWithReport(const QStringList& arguments)
    {
        return runWinstepsWithReport(m_dir, m_files, QStringList{"run"} + arguments);
    }

    // The value {"type": T, "value": V} of a machine property in a report, as "T V".
    static QString reportValue(const QJsonObject& report, const QString& name)
    {
        const QJsonObject value = report["machine"]["properties"][name].toObject();
        const QJsonValue v = value["value"];
        return value["type"].toString() + ' ' + (v.isString() ? v.toString() : QString::number(v.toDouble()));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void evalTable_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");

        const QString doc = writeFile(Document);
        const auto row = [](const char* name, const QStringList& arguments, const QString& expected) {
            QTest::newRow(name) << arguments << expected + QLatin1Char('\n');
        };
        row("integer", { "42" }, "qlonglong 42");
        row("negative integer", { "--", "-7" }, "qlonglong -7");
        row("double", { "3.5" }, "double 3.5");
        row("text", { "'it\\'s'" }, "QString \"it's\"");
        row("empty", { "" }, "QString \"\"");
        row("divide by zero", { "divide(1,0)" }, "invalid");
        row("len", { "len('abc')" }, "uint 3");
        row("split", { "split('a,,b',',')" }, "QStringList [\"a\", \"b\"]");
        row("list", { "list('x')" }, "QVariantList []");
        row("color by name", { "color('#ff0000')" }, "QColor #ff0000");
        row("point", { "point(1,2)" }, "QPoint (1, 2)");
        row("size", { "size(3,4)" }, "QSize 3x4");
        row("pixmap of no file", { "pixmap('/nonexistent.png')" }, "QPixmap null");
        row("count", { "count(split('a b c',' '))" }, "qulonglong 3");
        row("makelist", { "makelist(1,'a')" }, "QVariantList [qlonglong 1, QString \"a\"]");
        row("text escapes", { "concat('a\"b','c\\\\d')" }, "QString \"a\\\"bc\\\\\\\\d\"");
        row("variable", { "concat($name,'!')", "--var", "name=World" }, "QString \"World!\"");
        row("machine variable", { "add($fsm.n,1)", "--var", "fsm.n=41" }, "qlonglong 42");
        row("application variable", { "uppercase($app.lang)", "--var", "app.lang=en" }, "QString \"EN\"");
        row("value with =", { "$v", "--var", "v=a=b" }, "QString \"a=b\"");
        row("missing variable", { "concat($x,'y')" }, "QString \"y\"");
        row("count nodes", { "count(findnodes($doc,'//item'))", "--xml", "doc=" + doc }, "int 3");
        row("no node", { "findfirstnode($doc,'missing')", "--xml", "doc=" + doc }, "null");
        row("edited document", { "xmltostring(setattribute(findfirstnode($doc,'group'),'k','v'))", "--xml", "doc=" + doc },
            "QString \"<r>\\n <item id=\\\"a\\\">one</item>\\n <item id=\\\"b\\\">two</item>\\n <group k=\\\"v\\\">\\n"
            "  <item id=\\\"c\\\">three</item>\\n </group>\\n</r>\\n\"");
        row("machine document", { "count(findnodes($fsm.d,'item'))", "--xml", "fsm.d=" + doc }, "int 2");
        const QString node = QStringLiteral("object CXPathNode \"item\"\n"
                                            "%1fullName: QString \"/r/item\"\n"
                                            "%1nodeName: QString \"item\"\n"
                                            "%1nodeValue: QString \"\"\n"
                                            "%1text: QString \"%2\"\n"
                                            "%1nodeType: CXPathNode::NodeType ElementNode");
        row("node", { "findfirstnode($doc,'item[@id=\\'b\\']')", "--xml", "doc=" + doc }, node.arg("  ", "two"));
        row("list of nodes", { "setproperty(findnodes($doc,'item'),'note','x')", "--xml", "doc=" + doc },
            "object CPropertyObject \"nodeList\"\n  note: QString \"x\"\n  node0: " + node.arg("    ", "one") + "\n  node1: "
                + node.arg("    ", "two"));
    }

    void evalTable()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        const Run run = runWinsteps(QStringList{ "eval" } + arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, expected);
    }

    // Each wizard NAME.xml in data/ beside what a command must print for it: check reports
    // exactly the mistakes of NAME.errors, each line prefixed by the wizard's path ("%DIR%"
    // stands for its folder); graph draws NAME.dot.
    void goldenFiles_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("expected");
        for (const QString& name : QDir(Data).entryList({"*.errors", "*.dot"}, QDir::Files)) {
            const QString wizard = Data + QFileInfo(name).completeBaseName() + ".xml";
            const bool check = name.endsWith(".errors");
            QString expected = check ? QString() : readData(name);
            for (const QString& line : check ? readData(name).split('\n', Qt::SkipEmptyParts) : QStringList())
                expected += wizard + ':' + QString(line).replace("%DIR%", QStringLiteral(DATA_DIR)) + '\n';
            QTest::newRow(qPrintable(name)) << QStringList{check ? "check" : "graph", wizard} << (check ? 1 : 0) << expected;
        }
    }

    void goldenFiles()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, expected);
        const Run run = runWinsteps(arguments);
        QCOMPARE(run.out, expected);
        QCOMPARE(run.exitCode, exitCode);
    }

    // The sample wizard that reads and edits an XML configuration, on its own settings file (left
    // unwritten) and on one given by --xml: machine properties as "NAME=TYPE VALUE".
    void xmlConfigRuns_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("own settings") << QStringList()
            << QStringList{"product=QString Demo Suite", "mainHost=QString main.example.com", "serverCount=int 3", "optionCount=int 1",
                           "mainPort=QString 8443", "lastRole=QString backup",
                           "configText=QString <?xml version='1.0' encoding='UTF-8'?>\n"
                           "<!-- The configuration file that examples/xmlconfig.xml reads and changes. -->\n"
                           "<settings>\n <product>Demo Suite</product>\n <servers>\n"
                           "  <server host=\"main.example.com\" port=\"8443\" role=\"main\"/>\n"
                           "  <server host=\"mirror.example.com\" port=\"80\" role=\"mirror\"/>\n"
                           "  <server role=\"backup\"/>\n </servers>\n <options>\n  <option name=\"cache\" value=\"64\"/>\n"
                           " </options>\n</settings>\n"};
        const QString other = writeFile(R"xml(<settings><product>Other</product><servers>
          <server role="main" host="h" port="1"/></servers><options/></settings>)xml");
        QTest::newRow("--xml") << QStringList{"--xml", "config=" + other} << QStringList{"product=QString Other", "serverCount=int 2"};
    }

    void xmlConfigRuns()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, values);
        const QString settings = Example + QStringLiteral("data/xmlconfig-settings.xml");
        const QByteArray before = testsupport::readFile(settings);
        QVERIFY(before != "<unreadable>");

        const ReportRun run = runWithReport(QStringList{ Example + "xmlconfig.xml" } + arguments);
        const QJsonObject& report = run.report;
        QVERIFY2(run.exitCode == 0, qPrintable(run.err.right(2000)));
        for (const QString& value : values)
            QCOMPARE(value.section('=', 0, 0) + '=' + reportValue(report, value.section('=', 0, 0)), value);
        QCOMPARE(testsupport::readFile(settings), before); // the file itself is not written
        if (!arguments.isEmpty())
            return;
        // The document and the nodes the maps stored are objects of the machine.
        const QJsonObject objects = report["machine"]["objects"].toObject();
        QCOMPARE(objects["config"]["class"].toString(), QStringLiteral("CXPathNode"));
        QCOMPARE(objects["newServer"]["name"].toString(), QStringLiteral("server"));
        QCOMPARE(objects["options"]["name"].toString(), QStringLiteral("options"));
        // A node lists its declared properties as eval shows them.
        const QJsonObject node = objects["config"]["properties"].toObject();
        QCOMPARE(node.keys(), QStringList({"fullName", "nodeName", "nodeType", "nodeValue", "text"}));
        QCOMPARE(node["fullName"]["value"].toString(), QStringLiteral("/settings"));
        QCOMPARE(node["nodeType"]["value"].toString(), QStringLiteral("ElementNode"));
    }

    // States keep the names the wizard gives them: one declaring another "objectName", and one
    // renamed by a map that the run later goes back to, run to the end with warnings.
    void runRenamedStates()
    {
        const ReportRun run = runWithReport({ Data + "renamed.xml" });
        QVERIFY2(run.exitCode == 0, qPrintable(run.err.right(2000)));
        QVERIFY(run.err.contains("--- State a: ! Warning ! Object name changed to \"b\""));
        QVERIFY(run.err.contains("--- State c: ! Warning ! Object name changed to \"renamed\""));
        QStringList events, states;
        for (const QJsonValue& step : run.report["steps"].toArray()) {
            events << step["event"].toString();
            states << step["state"].toString();
        }
        QCOMPARE(events, QStringList({"finished", "finished", "pageBack", "finished", "finished"}));
        // The report names the states as the wizard does.
        QCOMPARE(states, QStringList({"a", "c", "d", "c", "d"}));
    }
};

QTEST_GUILESS_MAIN(TstAuthoring)
#include "tst_authoring.moc"
