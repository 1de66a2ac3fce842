// The winsteps command line as a user meets it: exit statuses and messages of every command, the
// output options (--quiet, --json, --strict and its warnings, eval --functions), help, errors
// and their colour, the profiles, and the bash completion script it generates.

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "support/commandrun.h"
#include "support/files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

const QString Example = QStringLiteral(EXAMPLES_DIR "/");
const QString Linear = Example + "linear.xml";
const QString Data = QStringLiteral(DATA_DIR "/");

const char* const Document = R"xml(<r>
  <item id="a">one</item>
  <item id="b">two</item>
  <group><item id="c">three</item></group>
</r>
)xml";

// A wizard that starts in "a", its parts one per line from line 2.
QByteArray wizard(const QStringList& parts)
{
    return ("<fsm name=\"m\" start=\"a\">\n" + parts.join('\n') + "\n</fsm>\n").toUtf8();
}

// A registry step NAME (readRegkey) reading the value "v" below path.
QString readState(const QString& path, const char* name = "a")
{
    return QStringLiteral(R"(<state name="%1" type="readRegkey"><property key="path" value="%2"/>)"
                          R"(<property key="key" value="v"/></state>)")
        .arg(QLatin1String(name), path.toHtmlEscaped());
}

// Every key of an expected object is in actual with a matching value; an expected array
// matches an actual one of its size element by element; scalars are equal.
bool matches(const QJsonValue& actual, const QJsonValue& expected)
{
    if (expected.isObject()) {
        const QStringList keys = expected.toObject().keys();
        return actual.isObject() && std::all_of(keys.cbegin(), keys.cend(), [&](const QString& key) {
                   return actual.toObject().contains(key) && matches(actual[key], expected[key]);
               });
    }
    if (!expected.isArray())
        return actual == expected;
    if (!actual.isArray() || actual.toArray().size() != expected.toArray().size())
        return false;
    for (qsizetype i = 0; i < expected.toArray().size(); ++i) {
        if (!matches(actual[i], expected[i]))
            return false;
    }
    return true;
}

// A pattern that matches text at the start of the output.
QString startsWith(const QString& text)
{
    return '^' + QRegularExpression::escape(text);
}

// A pattern that matches the whole output.
QString exactly(const QString& text)
{
    return startsWith(text) + "\\z";
}

// A pattern that finds each of texts anywhere in the output ("^" first: at its start).
QString findsAll(const QStringList& texts)
{
    QString pattern = QStringLiteral("(?s)^");
    for (const QString& text : texts)
        pattern += (text.startsWith('^') ? "(?=" : "(?=.*") + QRegularExpression::escape(text.mid(text.startsWith('^'))) + ')';
    return pattern;
}

} // namespace

class TstCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    QString writeFile(const QByteArray& text) { return writeTestFile(m_dir, m_files, text, QStringLiteral(".xml")); }

    // The words the completion script offers for a command line whose last word is completed.
    QStringList complete(const QStringList& words)
    {
        QProcess bash;
        bash.start(QStringLiteral("bash"), QStringList{"-c", "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(( $# - 1 )); "
                                                              "_winsteps; printf '%s\\n' \"${COMPREPLY[@]}\"",
                                                        "bash", m_dir.filePath("completion.bash")} + words);
        bash.waitForFinished();
        return QString::fromUtf8(bash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Exit status; standard output: a JSON value it must match, else a regular expression found
    // in it; standard error: a regular expression found in it, and its "warning:" lines counted.
    // Rows of "says": texts on standard output when the command succeeds, else on standard error.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<int>("warnings");
        const auto row = [](const char* name, const QStringList& arguments, int status, const QString& out, const QString& err,
                            int warnings = 0) { QTest::newRow(name) << arguments << status << out << err << warnings; };
        const auto says = [&row](const char* name, const QStringList& arguments, int status, const QStringList& texts) {
            row(name, arguments, status, status ? QString() : findsAll(texts), status ? findsAll(texts) : QString());
        };

        says("bare", {}, 2, {"^winsteps: no command given\n\nUsage: winsteps COMMAND", "profiles"});
        says("bare machine", {"machine"}, 2, {"^winsteps machine: no action given\n\nUsage: winsteps machine ACTION DIR"});
        says("bare profile", {"profile"}, 2, {"^winsteps profile: no action given\n\nUsage:"});
        says("unknown command", {"frobnicate"}, 2, {"unknown command \"frobnicate\""});
        says("help", {"--help"}, 0, {"run", "types", "Exit status"});
        says("run --help", {"run", "--help"}, 0,
             {"Usage: winsteps run WIZARD.xml", "--profile", "--machine", "--set", "--report", "--trace", "--timeout", "winxp-sp2"});
        says("help run", {"help", "run"}, 0, {"Usage: winsteps run", "--timeout"});
        says("types --help", {"types", "--help"}, 0, {"Usage: winsteps types", "--json"});
        says("help machine init", {"help", "machine", "init"}, 0, {"^Usage: winsteps machine init DIR", "--profile"});
        says("help machine", {"help", "machine"}, 0, {"^Usage: winsteps machine ACTION", "reboot DIR"});
        says("help profile show", {"help", "profile", "show"}, 0, {"^Usage: winsteps profile show NAME|FILE"});
        says("help tool NAME", {"help", "tool", "exit"}, 0, {"^Usage: winsteps tool NAME"});
        says("help of an unknown action", {"help", "machine", "format"}, 2, {"unknown action \"format\" (init, show,"});
        says("tool without a name", {"tool"}, 2, {"^winsteps tool: no tool name given (one of ping, exit,"});
        says("tool --help", {"tool", "--help"}, 0,
             {"  exit [CODE [SECONDS]]\n", "WINSTEPS_MACHINE ", "WINSTEPS_PROFILE ", "WINSTEPS_EXIT_CODE_FD ", "NO_COLOR "});
        says("--version", {"--color=never", "--version"}, 0, {"^winsteps "});
        says("--color wrong", {"--color=sometimes", "types"}, 2, {"^winsteps: --color wants never, auto or always, not \"sometimes\""});
        says("--color without value", {"--color"}, 2, {"--color wants"});
        says("profiles with argument", {"profiles", "x"}, 2, {"no arguments expected"});
        says("types with argument", {"types", "extra"}, 2, {"no arguments expected"});
        says("types", {"types"}, 0, {"factory \"host\"\n", "\n  noop (CNoopState)\n    events:   finished\n", "factory \"win\""});
        says("profile show without name", {"profile", "show"}, 2, {"no profile named"});
        says("profile show unknown", {"profile", "show", "win31"}, 2, {"unknown profile \"win31\""});
        says("completion for another shell", {"completion", "zsh"}, 2, {"no completion for \"zsh\""});

        // Wrong run command lines, refused before anything ran.
        says("no wizard", {"run"}, 2, {"no wizard file given"});
        says("two wizards", {"run", Linear, Linear}, 2, {"one wizard file only"});
        says("missing wizard", {"run", "/nonexistent/w.xml"}, 2, {"cannot open the wizard"});
        says("a device as wizard", {"run", "/dev/zero"}, 2, {"/dev/zero: cannot open the wizard: not a regular file"});
        says("unknown option", {"run", Linear, "--frobnicate"}, 2, {"frobnicate"});
        for (const char* set : {"x=1", "state.x=1", "fsm.=1", "fsm.x"})
            says(qPrintable(QStringLiteral("--set %1").arg(set)), {"run", Linear, "--set", set}, 2, {"--set wants"});
        says("--timeout zero", {"run", Linear, "--timeout", "0"}, 2, {"--timeout wants"});
        says("--timeout text", {"run", Linear, "--timeout", "soon"}, 2, {"--timeout wants"});
        says("report in missing folder", {"run", Linear, "--report", "/nonexistent/r.json"}, 2, {"cannot write the report"});
        says("trace in missing folder", {"run", Linear, "--trace", "/nonexistent/t.log"}, 2, {"cannot write the trace"});
        says("unknown profile", {"run", Linear, "--profile", "os-nine"}, 2, {"os-nine"});
        // Faults of the wizard NAME.xml in the host's data/refused: each line of NAME.errors after
        // the wizard's path, and no report.
        const QDir refused(QStringLiteral(HOST_DATA_DIR "/refused"));
        for (const QString& name : refused.entryList({"*.xml"}, QDir::Files)) {
            const QString path = refused.filePath(name);
            const QString errors = QString::fromUtf8(testsupport::readFile(QString(path).replace(".xml", ".errors")));
            QStringList faults = errors.split('\n', Qt::SkipEmptyParts);
            for (QString& fault : faults)
                fault.prepend(path + ':');
            says(qPrintable(name), {"run", path, "--report", m_dir.filePath("refused.json")}, 2, faults);
        }

        // eval, check and graph: the sample wizards pass the check, wrong uses are refused.
        const QString notXml = writeFile("<fsm name='x' start='a'><state");
        const QString broken = writeFile("<fsm name='x' start='a'><state name='a' type='nosuchtype'/></fsm>");
        const QString xmlconfig = Example + "xmlconfig.xml";
        for (const char* example : {"linear.xml", "pageback.xml", "xmlconfig.xml"})
            row(example, {"check", Example + example}, 0, startsWith(Example + example + ": no problems found\n") + '$', "");
        row("eval count", {"eval", "add(1)"}, 1, "^$", startsWith("'add' function has invalid number of parameters.\n"));
        row("eval nothing", {"eval"}, 2, "^$", startsWith("winsteps eval: no expression given\n"));
        row("eval two", {"eval", "1", "2"}, 2, "^$", startsWith("winsteps eval: one expression only"));
        row("eval bad var", {"eval", "1", "--var", "x"}, 2, "^$", startsWith("winsteps eval: --var wants NAME=VALUE"));
        row("eval bad xml", {"eval", "1", "--xml", "d"}, 2, "^$", startsWith("winsteps eval: --xml wants NAME=FILE"));
        row("eval missing xml", {"eval", "1", "--xml", "d=/nonexistent.xml"}, 2, "^$",
            startsWith("winsteps eval: /nonexistent.xml: cannot open the XML document"));
        row("eval not xml", {"eval", "1", "--xml", "d=" + notXml}, 2, "^$", startsWith("winsteps eval: " + notXml));
        row("check not xml", {"check", notXml}, 1, startsWith(notXml + ":1: not well-formed XML: "), "");
        row("check nothing", {"check"}, 2, "^$", startsWith("winsteps check: no wizard file given"));
        row("check missing", {"check", "/nonexistent/w.xml"}, 1, startsWith("/nonexistent/w.xml: cannot open the wizard: "), "");
        row("graph broken", {"graph", broken}, 2, "^$", startsWith(broken + ":1: unknown state type \"nosuchtype\" of state \"a\""));
        row("run missing xml", {"run", xmlconfig, "--xml", "config=/nonexistent.xml"}, 2, "^$",
            startsWith("winsteps run: /nonexistent.xml: cannot open the XML document"));
        row("run bad xml", {"run", xmlconfig, "--xml", "config"}, 2, "^$", startsWith("winsteps run: --xml wants NAME=FILE"));

        // eval prints exact types and values.
        const QString doc = writeFile(Document);
        const auto evaluates = [&row](const char* name, const QStringList& arguments, const QString& printed) {
            row(name, QStringList{"eval"} + arguments, 0, exactly(printed + '\n'), "");
        };
        evaluates("integer", {"42"}, "qlonglong 42");
        evaluates("negative integer", {"--", "-7"}, "qlonglong -7");
        evaluates("double", {"3.5"}, "double 3.5");
        evaluates("text", {"'it\\'s'"}, "QString \"it's\"");
        evaluates("empty", {""}, "QString \"\"");
        evaluates("divide by zero", {"divide(1,0)"}, "invalid");
        evaluates("len", {"len('abc')"}, "uint 3");
        evaluates("split", {"split('a,,b',',')"}, "QStringList [\"a\", \"b\"]");
        evaluates("list", {"list('x')"}, "QVariantList []");
        evaluates("color by name", {"color('#ff0000')"}, "QColor #ff0000");
        evaluates("point", {"point(1,2)"}, "QPoint (1, 2)");
        evaluates("size", {"size(3,4)"}, "QSize 3x4");
        evaluates("pixmap of no file", {"pixmap('/nonexistent.png')"}, "QPixmap null");
        evaluates("count", {"count(split('a b c',' '))"}, "qulonglong 3");
        evaluates("makelist", {"makelist(1,'a')"}, "QVariantList [qlonglong 1, QString \"a\"]");
        evaluates("text escapes", {"concat('a\"b','c\\\\d')"}, "QString \"a\\\"bc\\\\\\\\d\"");
        evaluates("variable", {"concat($name,'!')", "--var", "name=World"}, "QString \"World!\"");
        evaluates("machine variable", {"add($fsm.n,1)", "--var", "fsm.n=41"}, "qlonglong 42");
        evaluates("application variable", {"uppercase($app.lang)", "--var", "app.lang=en"}, "QString \"EN\"");
        evaluates("value with =", {"$v", "--var", "v=a=b"}, "QString \"a=b\"");
        evaluates("missing variable", {"concat($x,'y')"}, "QString \"y\"");
        evaluates("count nodes", {"count(findnodes($doc,'//item'))", "--xml", "doc=" + doc}, "int 3");
        evaluates("no node", {"findfirstnode($doc,'missing')", "--xml", "doc=" + doc}, "null");
        evaluates("edited document", {"xmltostring(setattribute(findfirstnode($doc,'group'),'k','v'))", "--xml", "doc=" + doc},
                  "QString \"<r>\\n <item id=\\\"a\\\">one</item>\\n <item id=\\\"b\\\">two</item>\\n <group k=\\\"v\\\">\\n"
            "  <item id=\\\"c\\\">three</item>\\n </group>\\n</r>\\n\"");
        evaluates("machine document", {"count(findnodes($fsm.d,'item'))", "--xml", "fsm.d=" + doc}, "int 2");
        const QString node = QStringLiteral("object CXPathNode \"item\"\n"
                                            "%1fullName: QString \"/r/item\"\n"
                                            "%1nodeName: QString \"item\"\n"
                                            "%1nodeValue: QString \"\"\n"
                                            "%1text: QString \"%2\"\n"
                                            "%1nodeType: CXPathNode::NodeType ElementNode");
        evaluates("node", {"findfirstnode($doc,'item[@id=\\'b\\']')", "--xml", "doc=" + doc}, node.arg("  ", "two"));
        evaluates("list of nodes", {"setproperty(findnodes($doc,'item'),'note','x')", "--xml", "doc=" + doc},
                  "object CPropertyObject \"nodeList\"\n  note: QString \"x\"\n  node0: " + node.arg("    ", "one") + "\n  node1: "
                      + node.arg("    ", "two"));

        // Each wizard NAME.xml in data/ beside what a command must print for it: check reports
        // exactly the mistakes of NAME.errors, each line prefixed by the wizard's path ("%DIR%"
        // stands for its folder); graph draws NAME.dot.
        for (const QString& name : QDir(Data).entryList({"*.errors", "*.dot"}, QDir::Files)) {
            const QString wizard = Data + QFileInfo(name).completeBaseName() + ".xml";
            const bool check = name.endsWith(".errors");
            const QString golden = QString::fromUtf8(testsupport::readFile(Data + name));
            QString expected = check ? QString() : golden;
            for (const QString& line : check ? golden.split('\n', Qt::SkipEmptyParts) : QStringList())
                expected += wizard + ':' + QString(line).replace("%DIR%", QStringLiteral(DATA_DIR)) + '\n';
            row(qPrintable(name), {check ? "check" : "graph", wizard}, check ? 1 : 0, exactly(expected), "");
        }

        // Output options. Line 2: a path with a hive name; 3: a required value declared empty;
        // 4: an event that "a" does not declare; 5: a state nobody reaches.
        const QString mistakes = writeFile(wizard(
            {readState("HKEY_LOCAL_MACHINE\\Software\\X"),
             R"(<state name="b" type="writeRegkey"><property key="path" value="S"/><property key="key" value="k"/>)"
             R"(<property key="value" value=""/></state>)",
             R"(<transition from="a" to="b" event="weird"/>)", R"(<state name="island" type="noop"/>)"}));
        const QString clean = writeFile(wizard({R"(<state name="a" type="noop"/>)"}));
        const QString loop = writeFile(wizard({R"(<state name="a" type="noop"/><state name="b" type="noop"/>)",
                                               R"(<transition from="a" to="b" event="finished"/>)",
                                               R"(<transition from="b" to="a" event="finished"/>)"}));
        const QString failing = writeFile(wizard({R"(<state name="a" type="noop"><property key="event" value="failed"/></state>)"}));
        // A hive-named path and an empty required value that maps into the state replace.
        const QString mapped = writeFile(wizard(
            {R"(<state name="a" type="noop"/>)", readState("HKLM\\X", "b").replace("value=\"v\"", "value=\"\""),
             R"(<transition from="a" to="b" event="finished"><propertymap target="path" function="'S'"/>)"
             R"(<propertymap target="key" function="'k'"/></transition>)"}));
        const auto check = [&](const QString& path) { return QStringList{"check", writeFile(wizard({readState(path)}))}; };
        const QString hive = "^[^\n]*:2: state \"a\" \\(type readRegkey\\) has the path \"[^\"]*\", which begins with a hive "
                             "name; the path is a key below the hive that \"scope\" chooses\n$";
        const QString trace = m_dir.filePath(QStringLiteral("quiet.trace"));
        const QString line = R"(^linear: ended in state "done" with event "finished" \(exit status 0\)\n$)";

        row("trace by default", {"run", Linear}, 0, line, "--- State welcome: enter state");
        row("--verbose as by default", {"run", Linear, "--verbose"}, 0, line, "--- State welcome: enter state");
        row("--quiet: the final line alone", {"run", Linear, "--quiet"}, 0, line, "^$");
        row("-q with --trace: the trace in the file", {"run", Linear, "-q", "--trace", trace}, 0, line, "^$");
        row("--quiet and --verbose", {"run", Linear, "-q", "--verbose"}, 2, "^$", "exclude each other");
        row("a warning per point, also quiet", {"run", mistakes, "-q"}, 0, "exit status 0",
            "^(?:[^\n]*: warning: [^\n]*\n){4}$", 4);
        row("warnings in yellow when colour is asked for", {"--color=always", "run", mistakes, "-q"}, 0, "exit status 0",
            "^(?:\x1b\\[33m[^\n]*: warning: [^\n]*\x1b\\[0m\n){4}$", 4);
        row("--strict refuses before the run", {"run", mistakes, "--strict", "--json"}, 2, "^$",
            ":2: state \"a\" \\(type readRegkey\\) has the path[^\n]*\n(?:[^\n]*\n){3}winsteps run: --strict: 4 "
            "problem\\(s\\) found; nothing was run\n$");
        row("--strict with nothing to refuse", {"run", clean, "--strict", "-q"}, 0, "exit status 0", "^$");
        row("--strict, values that maps set", {"run", mapped, "--strict", "-q"}, 0, "exit status 0", "^$");
        row("run --json", {"run", Linear, "--json", "-q"}, 0,
            R"({"fsm": "linear", "state": "done", "event": "finished", "timedOut": false, "exitStatus": 0})", "^$");
        row("run --json, failed", {"run", failing, "--json", "-q"}, 1, R"({"state": "a", "event": "failed", "exitStatus": 1})", "^$");
        row("run --json, timed out", {"run", loop, "--json", "-q", "--timeout", "0.2"}, 3,
            R"({"event": null, "timedOut": true, "exitStatus": 3})", "^$");
        row("check --json", {"check", mistakes, "--json"}, 1,
            QStringLiteral("[{'file': '%1', 'line': 2}, {'line': 3, 'message': 'required property `value` of state `b` is "
                           "declared with an empty value'}, {'line': 4}, {'line': 5}]")
                .arg(mistakes).replace('`', "\\\"").replace('\'', '"'),
            "^$");
        row("check --json, nothing found", {"check", clean, "--json"}, 0, "[]", "^$");
        row("hive, lower case, leading backslash", check("\\hkcu\\Software"), 1, hive, "^$");
        row("the hive alone", check("HKEY_USERS"), 1, hive, "^$");
        row("a hive name below the hive", check("Software\\HKLM\\X"), 0, "no problems found", "^$");
        row("a word that begins like a hive", check("HKLMX\\Software"), 0, "no problems found", "^$");
        row("eval --json value", {"eval", "--json", "add(1,2)"}, 0, R"({"type": "qlonglong", "value": 3})", "^$");
        row("eval --json invalid", {"eval", "--json", "divide(1,0)"}, 0, R"({"type": "invalid", "value": null})", "");
        row("eval --json list", {"eval", "split('a,b',',')", "--json"}, 0, R"({"type": "QStringList", "value": ["a", "b"]})", "");
        row("eval --json object", {"eval", "--json", "findfirstnode($d,'b')", "--xml", "d=" + writeFile("<a><b>t</b></a>")}, 0,
            R"({"class": "CXPathNode", "name": "b", "properties": {"text": {"type": "QString", "value": "t"}}})", "");
        row("eval --json null object", {"eval", "--json", "findfirstnode($d,'x')", "--xml", "d=" + writeFile("<a/>")}, 0, "null", "");
        row("eval leading minus", {"eval", "-0.5"}, 2, "^$", "put -- before .*: winsteps eval -- -0.5\n");
        row("eval leading minus after --var", {"eval", "--var", "x=1", "-$x"}, 2, "^$", "winsteps eval -- -\\$x\n");
        row("eval --functions with an expression", {"eval", "--functions", "add(1,2)"}, 2, "^$", "takes no expression");
    }


    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(int, warnings);

        const CommandRun run = runWinsteps(arguments);
        QVERIFY2(run.exitCode == status, qPrintable(QStringLiteral("exit %1\n%2%3").arg(run.exitCode).arg(run.out, run.err)));
        // Wrapped in a list, so that null and scalars parse too.
        const QJsonValue expected = QJsonDocument::fromJson("[" + out.toUtf8() + "]").array().at(0);
        if (expected.isUndefined())
            QVERIFY2(QRegularExpression(out).match(run.out).hasMatch(), qPrintable(out + " does not match:\n" + run.out));
        else
            QVERIFY2(matches(QJsonDocument::fromJson("[" + run.out.toUtf8() + "]").array().at(0), expected), qPrintable(run.out));
        QVERIFY2(QRegularExpression(err).match(run.err).hasMatch(), qPrintable(err + " does not match:\n" + run.err));
        QCOMPARE(run.err.count(QStringLiteral("warning:")), warnings);
        if (const qsizetype at = arguments.indexOf(QStringLiteral("--trace")); at > 0 && status == 0)
            QVERIFY(testsupport::readFile(arguments.at(at + 1)).contains("--- State welcome: enter state"));
        if (status == 2) // a wrong command line: refused before anything ran
            QVERIFY2(!run.err.contains("--- State"), qPrintable(run.err));
        QVERIFY(!QFile::exists(m_dir.filePath("refused.json")));
        if (!arguments.contains("--color=always"))
            QVERIFY2(!QString(run.out + run.err).contains("\033["), "no colour on a pipe");
    }

    // Error lines are red when colour is on; the hint after them is not. Auto means: standard
    // error is a terminal and NO_COLOR is unset or empty.
    void colour_data()
    {
        QTest::addColumn<QString>("colour"); // the --color option, if any
        QTest::addColumn<QByteArray>("noColor"); // NO_COLOR; null: unset
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<bool>("coloured");
        QTest::newRow("auto, pipe") << QString() << QByteArray() << false << false;
        QTest::newRow("auto, terminal") << QString() << QByteArray() << true << true;
        QTest::newRow("auto, terminal, NO_COLOR") << QString() << QByteArray("1") << true << false;
        QTest::newRow("auto, terminal, NO_COLOR empty") << QString() << QByteArray("") << true << true;
        QTest::newRow("always, pipe") << "--color=always" << QByteArray() << false << true;
        QTest::newRow("always, NO_COLOR") << "--color=always" << QByteArray("1") << false << true;
        QTest::newRow("never, terminal") << "--color=never" << QByteArray() << true << false;
        QTest::newRow("auto given, terminal") << "--color=auto" << QByteArray() << true << true;
    }

    void colour()
    {
        QFETCH(QString, colour);
        QFETCH(QByteArray, noColor);
        QFETCH(bool, terminal);
        QFETCH(bool, coloured);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("NO_COLOR");
        if (!noColor.isNull())
            environment.insert("NO_COLOR", QString::fromUtf8(noColor));
        process.setProcessEnvironment(environment);
        int master = -1;
        if (terminal) {
            master = ::posix_openpt(O_RDWR | O_NOCTTY);
            QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
            process.setStandardErrorFile(QString::fromLocal8Bit(::ptsname(master)));
        }
        process.start(QStringLiteral(WINSTEPS_EXE), (colour.isEmpty() ? QStringList() : QStringList{colour}) + QStringList{"machine", "format"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 2);
        QByteArray err = process.readAllStandardError();
        if (terminal) {
            char buffer[4096];
            ::fcntl(master, F_SETFL, O_NONBLOCK);
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
                err.append(buffer, n);
            ::close(master);
            err.replace("\r\n", "\n");
        }
        const QByteArray line = "winsteps machine: unknown action \"format\"";
        QVERIFY2(err.contains(coloured ? QByteArray("\033[31m" + line) : QByteArray("\n" + line)) || (!coloured && err.startsWith(line)), err.constData());
        QVERIFY2(err.contains("\nTry 'winsteps machine --help'.\n"), err.constData()); // the hint stays plain
        QCOMPARE(err.contains("\033[0m\n"), coloured);
    }

    // The profiles: the list, and what a fresh machine of a built-in profile or a profile file
    // holds; the machine goes into a temporary folder and leaves nothing behind.
    void profiles()
    {
        const CommandRun json = runWinsteps({"profiles", "--json"});
        QCOMPARE(json.exitCode, 0);
        QMap<QString, QJsonObject> byName;
        QStringList defaults;
        for (const QJsonValue& value : QJsonDocument::fromJson(json.out.toUtf8()).array()) {
            byName.insert(value["name"].toString(), value.toObject());
            if (value["default"].toBool())
                defaults << value["name"].toString();
        }
        QCOMPARE(byName.size(), 10);
        QCOMPARE(defaults, QStringList{"winxp-sp2"});
        QCOMPARE(byName["vista-x64"]["wow64"].toBool(), true);
        QCOMPARE(byName["win98"]["system"].toString(), QString("9x 4.10.1998"));
        const CommandRun text = runWinsteps({"profiles"});
        QCOMPARE(text.out.count('\n'), 11); // a header and one line each
        QVERIFY2(text.out.contains(QRegularExpression("\nvista-x64 +NT 6.0.6001 Service Pack 1 +yes +yes +Windows Vista")), qPrintable(text.out));
    }

    void profileShow_data()
    {
        QTest::addColumn<QString>("profile"); // a name, or the text of a profile file
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("services");
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QStringList>("registry"); // parts of the .reg text
        QTest::newRow("winxp-sp2") << "winxp-sp2" << "NT" << 8 << "C:\\WINDOWS"
                                   << QStringList{"Windows Registry Editor Version 5.00", "\"CSDVersion\"=\"Service Pack 2\""};
        QTest::newRow("win98") << "win98" << "9x" << 0 << "C:\\WINDOWS" << QStringList{"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]"};
        QTest::newRow("file") << R"({"inherits": "vista", "registry": {"HKLM\\SOFTWARE\\Demo": {"Version": "2.1"}}})" << "NT" << 6 << "C:\\Windows"
                              << QStringList{"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\n\"Version\"=\"2.1\""};
    }

    void profileShow()
    {
        QFETCH(QString, profile);
        QFETCH(QString, family);
        QFETCH(int, services);
        QFETCH(QString, windows);
        QFETCH(QStringList, registry);
        if (profile.startsWith('{')) {
            const QString file = m_dir.filePath("profile.json");
            QVERIFY(testsupport::writeFile(file, profile.toUtf8()));
            profile = file;
        }
        const QString temp = m_dir.filePath("tmp-" + QString::number(qHash(profile)));
        QVERIFY(QDir().mkpath(temp));
        const QByteArray oldTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", temp.toUtf8());
        const CommandRun json = runWinsteps({"profile", "show", profile, "--json"});
        const CommandRun text = runWinsteps({"profile", "show", profile});
        qputenv("TMPDIR", oldTemp);
        QCOMPARE(json.exitCode, 0);
        QCOMPARE(text.exitCode, 0);
        QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());

        const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(object["system"]["family"].toString(), family);
        QCOMPARE(object["services"].toArray().size(), services);
        QCOMPARE(object["folders"]["windows"].toString(), windows);
        QVERIFY(!object["devices"].toArray().isEmpty() && !object["drives"].toArray().isEmpty());
        for (const char* folderOnly : {"machine", "driveC", "processes", "restarts"})
            QVERIFY2(!object.contains(folderOnly), folderOnly);
        for (const QString& part : registry) {
            QVERIFY2(object["registry"].toString().contains(part), qPrintable(part));
            QVERIFY2(text.out.contains(part), qPrintable(part));
        }
        for (const QString& part : {QString("\nVersion:   platform "), QString("\nFolders:\n  windows:                    " + windows + '\n'), QString("\nDrives:\n"), QString("\nRegistry:\n")})
            QVERIFY2(text.out.contains(part), qPrintable(part + " not in:\n" + text.out));
        QVERIFY2(!text.out.contains(temp) && !text.out.contains("Machine:"), qPrintable(text.out));
    }

    // The words the generated script offers: commands, machine actions from the action table
    // (the list the command gives for an unknown action), each one's options and values.
    void completion_data()
    {
        const CommandRun script = runWinsteps({"completion", "bash"});
        QCOMPARE(script.exitCode, 0);
        QVERIFY(testsupport::writeFile(m_dir.filePath("completion.bash"), script.out.toUtf8()));
        const QString listed = runWinsteps({"machine", "format"}).err.section("(", 1).section(")", 0, 0);

        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QStringList>("offered");
        QTest::newRow("ma") << QStringList{"winsteps", "ma"} << QStringList{"machine"};
        QTest::newRow("pro") << QStringList{"winsteps", "pro"} << QStringList{"profiles", "profile"};
        QTest::newRow("machine actions") << QStringList{"winsteps", "machine", ""} << listed.split(", ");
        QTest::newRow("machine re") << QStringList{"winsteps", "machine", "re"} << QStringList{"reboot", "restore"};
        QTest::newRow("machine init --") << QStringList{"winsteps", "machine", "init", "dir", "--"} << QStringList{"--profile", "--help"};
        QTest::newRow("run --t after values") << QStringList{"winsteps", "run", "--profile", "vista", "w.xml", "--t"} << QStringList{"--trace", "--timeout"};
        QTest::newRow("--profile value") << QStringList{"winsteps", "check", "w.xml", "--profile", "win9"} << QStringList{"win95", "win98", "win98se"};
        QTest::newRow("--color=") << QStringList{"winsteps", "--color", "=", ""} << QStringList{"never", "auto", "always"};
        QTest::newRow("after --color=always") << QStringList{"winsteps", "--color", "=", "always", "ty"} << QStringList{"types"};
        QTest::newRow("help machine") << QStringList{"winsteps", "help", "machine", "ex"} << QStringList{"export-reg"};
        QTest::newRow("tools") << QStringList{"winsteps", "tool", "re"} << QStringList{"regsvr32"};
        QTest::newRow("profile show --") << QStringList{"winsteps", "profile", "show", "--"} << QStringList{"--help", "--json"};
        QTest::newRow("global options") << QStringList{"winsteps", "--"} << QStringList{"--help", "--version", "--color"};
    }

    void completion()
    {
        QFETCH(QStringList, words);
        QFETCH(QStringList, offered);
        QCOMPARE(complete(words), offered);
    }

    // eval --functions: the text and JSON forms list the same functions in the same order, and
    // eval --help names each.
    void functionList()
    {
        const QStringList lines = runWinsteps({"eval", "--functions"}).out.split('\n', Qt::SkipEmptyParts);
        const QJsonArray list = QJsonDocument::fromJson(runWinsteps({"eval", "--functions", "--json"}).out.toUtf8()).array();
        const QString help = runWinsteps({"eval", "--help"}).out;
        QCOMPARE(lines.size(), 43);
        QCOMPARE(list.size(), 43);
        for (qsizetype i = 0; i < list.size(); ++i) {
            const QString name = list[i]["name"].toString();
            const QString description = list[i]["description"].toString();
            QVERIFY2(!description.isEmpty() && lines[i].startsWith(name + "  ") && lines[i].endsWith(description)
                         && lines[i].contains(list[i]["parameters"].toString())
                         && help.contains(QRegularExpression("[ \n]" + name + "[,.]")),
                     qPrintable(lines[i]));
        }
        QVERIFY(matches(list[0], QJsonDocument::fromJson(R"({"name": "add", "minimum": 2, "maximum": null})").object()));
        QVERIFY(list[0].toObject().value("counts").isUndefined());
        QVERIFY(matches(list[19], QJsonDocument::fromJson(R"({"name": "color", "minimum": 1, "maximum": 3, "counts": [1, 3]})").object()));
        QVERIFY(matches(list[21], QJsonDocument::fromJson(R"({"name": "font", "minimum": 0, "counts": [0, 1, 2, 3, 4]})").object()));
    }
};

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
