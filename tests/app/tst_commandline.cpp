// The command line of run, check and eval through the winsteps command: how much a run
// prints (--quiet, --verbose), the machine-readable forms (--json), strict runs and their
// warnings, and the function list of eval.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "support/commandrun.h"
#include "support/files.h"

namespace {

const QString Linear = QStringLiteral(EXAMPLES_DIR "/linear.xml");

// A wizard that starts in "a" with the given states and transitions.
QByteArray wizard(const QString& body)
{
    return (QStringLiteral("<fsm name=\"m\" start=\"a\">\n") + body + QStringLiteral("\n</fsm>\n")).toUtf8();
}

// A readRegkey state "a" reading the value "v" below path (scope, key: as given).
QString readState(const QString& path, const QString& extra = QString())
{
    return QStringLiteral(R"(<state name="a" type="readRegkey"><property key="path" value="%1"/>)"
                          R"(<property key="key" value="v"/>%2</state>)")
        .arg(path.toHtmlEscaped(), extra);
}

// True when every key of an expected object is in actual with a matching value, an expected
// array matches element by element an actual array of the same size, and scalars are equal.
bool matches(const QJsonValue& actual, const QJsonValue& expected)
{
    if (expected.isObject()) {
        const QJsonObject object = expected.toObject();
        const QStringList keys = object.keys();
        return actual.isObject() && std::all_of(keys.cbegin(), keys.cend(), [&](const QString& key) {
                   return actual.toObject().contains(key) && matches(actual[key], object[key]);
               });
    }
    if (expected.isArray()) {
        const QJsonArray array = expected.toArray();
        if (!actual.isArray() || actual.toArray().size() != array.size())
            return false;
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (!matches(actual[i], array[i]))
                return false;
        }
        return true;
    }
    return actual == expected;
}

} // namespace

class TstCommandLine : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

    QString writeFile(const QByteArray& text) { return writeTestFile(m_dir, m_files, text, QStringLiteral(".xml")); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Exit status, standard output (a JSON value that the output must match, or a regular
    // expression for the whole text) and standard error (a regular expression found in it; the
    // lines with "warning:" counted).
    void commands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<int>("warnings");

        // Line 2: a path with a hive name; 3: a required value declared empty; 4: an event "a" does
        // not declare; 5: a state nobody reaches.
        const QString mistakes = writeFile(wizard(
            readState(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\X")) + '\n'
            + R"(<state name="b" type="writeRegkey"><property key="path" value="S"/><property key="key" value="k"/>)"
              R"(<property key="value" value=""/></state>)" + '\n' + R"(<transition from="a" to="b" event="weird"/>)"
            + '\n' + R"(<state name="island" type="noop"/>)"));
        const QString clean = writeFile(wizard(R"(<state name="a" type="noop"/>)"));
        const QString loop = writeFile(wizard(R"(<state name="a" type="noop"/><state name="b" type="noop"/>)"
                                              R"(<transition from="a" to="b" event="finished"/>)"
                                              R"(<transition from="b" to="a" event="finished"/>)"));
        const QString failing = writeFile(wizard(R"(<state name="a" type="noop"><property key="event" value="failed"/></state>)"));
        const QString trace = m_dir.filePath(QStringLiteral("quiet.trace"));
        const QString machine = m_dir.filePath(QStringLiteral("machine"));
        QVERIFY(runWinsteps({"machine", "init", machine}).exitCode == 0);
        const QString line = R"(^linear: ended in state "done" with event "finished" \(exit status 0\)\n$)";
        const auto row = [](const char* name, const QStringList& arguments, int status, const QString& out,
                            const QString& err, int warnings = 0) {
            QTest::newRow(name) << arguments << status << out << err << warnings;
        };

        row("trace by default", {"run", Linear}, 0, line, "--- State welcome: enter state");
        row("--verbose as by default", {"run", Linear, "--verbose"}, 0, line, "--- State welcome: enter state");
        row("--quiet: nothing but the final line", {"run", Linear, "--quiet"}, 0, line, "^$");
        row("-q with --trace: the trace in the file", {"run", Linear, "-q", "--trace", trace}, 0, line, "^$");
        row("--quiet and --verbose", {"run", Linear, "-q", "--verbose"}, 2, "^$", "exclude each other");
        row("a warning per point, also quiet", {"run", mistakes, "-q"}, 0, "exit status 0",
            "^(?:[^\n]*: warning: [^\n]*\n){4}$", 4);
        row("--strict refuses before the run", {"run", mistakes, "--strict", "--json"}, 2, "^$",
            ":2: state \"a\" \\(type readRegkey\\) has the path[^\n]*\n(?:[^\n]*\n){3}winsteps run: --strict: 4 "
            "problem\\(s\\) found; nothing was run\n$");
        row("--strict with nothing to refuse", {"run", clean, "--strict", "-q"}, 0, "exit status 0", "^$");
        row("run --json", {"run", Linear, "--json", "-q"}, 0,
            R"({"fsm": "linear", "state": "done", "event": "finished", "timedOut": false, "exitStatus": 0})", "^$");
        row("run --json, failed", {"run", failing, "--json", "-q"}, 1,
            R"({"state": "a", "event": "failed", "exitStatus": 1})", "^$");
        row("run --json, timed out", {"run", loop, "--json", "-q", "--timeout", "0.2"}, 3,
            R"({"event": null, "timedOut": true, "exitStatus": 3})", "^$");
        row("check --json", {"check", mistakes, "--json"}, 1,
            QStringLiteral("[{'file': '%1', 'line': 2}, {'line': 3, 'message': 'required property \\'value\\' of state "
                           "\\'b\\' is declared with an empty value'}, {'line': 4}, {'line': 5, 'message': 'state "
                           "\\'island\\' cannot be reached from the start state \\'a\\''}]")
                .arg(mistakes)
                .replace("\\'", "\\\"")
                .replace('\'', '"'),
            "^$");
        row("check --json, nothing found", {"check", clean, "--json"}, 0, "[]", "^$");
        row("eval --json value", {"eval", "--json", "add(1,2)"}, 0, R"({"type": "qlonglong", "value": 3})", "^$");
        row("eval --json invalid", {"eval", "--json", "divide(1,0)"}, 0, R"({"type": "invalid", "value": null})", "");
        row("eval --json list", {"eval", "split('a,b',',')", "--json"}, 0, R"({"type": "QStringList", "value": ["a", "b"]})", "");
        row("eval --json object", {"eval", "--json", "findfirstnode($d,'b')", "--xml", "d=" + writeFile("<a><b>t</b></a>")}, 0,
            R"({"class": "CXPathNode", "name": "b", "properties": {"text": {"type": "QString", "value": "t"}}})", "");
        row("eval --json null object", {"eval", "--json", "findfirstnode($d,'x')", "--xml", "d=" + writeFile("<a/>")}, 0,
            "null", "");
        row("eval leading minus", {"eval", "-0.5"}, 2, "^$", "put -- before .*: winsteps eval -- -0.5\n");
        row("eval leading minus after --var", {"eval", "--var", "x=1", "-$x"}, 2, "^$", "winsteps eval -- -\\$x\n");
        row("eval after --", {"eval", "--", "-0.5"}, 0, "^double -0.5\n$", "^$");
        row("eval --functions with an expression", {"eval", "--functions", "add(1,2)"}, 2, "^$", "takes no expression");
        row("types --json", {"types", "--json"}, 0, R"({"factories": [{"name": "host"}, {}]})", "^$");
        row("machine show --json", {"machine", "show", machine, "--json"}, 0, R"({"system": {}})", "");
    }

    void commands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(int, warnings);

        const CommandRun run = runWinsteps(arguments);
        QVERIFY2(run.exitCode == status, qPrintable(QStringLiteral("exit %1\n%2%3").arg(run.exitCode).arg(run.out, run.err)));
        const QJsonValue expected = QJsonDocument::fromJson("[" + out.toUtf8() + "]").array().first();
        if (!expected.isUndefined()) {
            QJsonParseError error;
            const QJsonDocument actual = QJsonDocument::fromJson("[" + run.out.toUtf8() + "]", &error);
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(run.out));
            QVERIFY2(matches(actual.array().first(), expected), qPrintable(run.out));
        } else {
            QVERIFY2(QRegularExpression(out).match(run.out).hasMatch(), qPrintable(run.out));
        }
        QVERIFY2(QRegularExpression(err).match(run.err).hasMatch(), qPrintable(run.err));
        QCOMPARE(run.err.count(QStringLiteral("warning:")), warnings);
        const qsizetype traceAt = arguments.indexOf(QStringLiteral("--trace"));
        if (traceAt > 0)
            QVERIFY(testsupport::readFile(arguments.at(traceAt + 1)).contains("--- State welcome: enter state"));
    }

    // Which declared values check takes for mistakes: a registry path that begins with a hive
    // name, a required property declared empty; not what a map into the state sets.
    void declaredValues_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("found"); // the end of the message, or empty for none

        const QString hive = QStringLiteral("which begins with a hive name; the path is a key below the hive that "
                                            "\"scope\" chooses");
        QTest::newRow("long hive name") << readState("HKEY_LOCAL_MACHINE\\Software\\X") << hive;
        QTest::newRow("short, lower case, leading backslash") << readState("\\hkcu\\Software") << hive;
        QTest::newRow("the hive alone") << readState("HKEY_USERS") << hive;
        QTest::newRow("below the hive") << readState("Software\\HKLM\\X") << QString();
        QTest::newRow("a word that begins like a hive") << readState("HKLMX\\Software") << QString();
        QTest::newRow("required path empty") << readState("") << "required property \"path\" of state \"a\" is declared with an empty value";
        QTest::newRow("set by a map")
            << readState("HKLM\\X", R"(<property key="key" value=""/>)")
                   + R"(<state name="z" type="noop"/><transition from="z" to="a" event="finished">)"
                     R"(<propertymap target="path" function="'S'"/><propertymap target="key" function="'k'"/></transition>)"
            << QString();
        QTest::newRow("not a registry step")
            << "<state name=\"a\" type=\"removeFilesAfterReboot\"><property key=\"path\" value=\"HKLM\\x\"/></state>" << QString();
    }

    void declaredValues()
    {
        QFETCH(QString, state);
        QFETCH(QString, found);
        // The start state "z" when there is one, so that "a" is reached.
        const QByteArray text = wizard(state).replace("start=\"a\"", state.contains("\"z\"") ? "start=\"z\"" : "start=\"a\"");
        const CommandRun run = runWinsteps({"check", writeFile(text)});
        QCOMPARE(run.exitCode, found.isEmpty() ? 0 : 1);
        if (!found.isEmpty())
            QVERIFY2(run.out.endsWith(found + '\n') && run.out.count('\n') == 1, qPrintable(run.out));
    }

    // eval --functions lists the registry: the text and the JSON form name the same functions
    // in the same order, and eval --help names each of them.
    void functionList()
    {
        const CommandRun text = runWinsteps({"eval", "--functions"});
        const CommandRun json = runWinsteps({"eval", "--functions", "--json"});
        const CommandRun help = runWinsteps({"eval", "--help"});
        QCOMPARE(text.exitCode, 0);
        QCOMPARE(json.exitCode, 0);
        const QStringList lines = text.out.split('\n', Qt::SkipEmptyParts);
        const QJsonArray list = QJsonDocument::fromJson(json.out.toUtf8()).array();
        QCOMPARE(lines.size(), 43);
        QCOMPARE(list.size(), 43);
        for (qsizetype i = 0; i < list.size(); ++i) {
            const QJsonObject function = list[i].toObject();
            const QString name = function["name"].toString();
            QVERIFY2(lines[i].startsWith(name + "  ") && lines[i].endsWith(function["description"].toString())
                         && lines[i].contains(function["parameters"].toString()),
                     qPrintable(lines[i]));
            QVERIFY2(!function["description"].toString().isEmpty(), qPrintable(name));
            QVERIFY2(help.out.contains(QRegularExpression("[ \n]" + name + "[,.]")), qPrintable(name));
        }
        QVERIFY(matches(list[0], QJsonDocument::fromJson(R"({"name": "add", "minimum": 2, "maximum": null})").object()));
        QVERIFY(list[0].toObject().value("counts").isUndefined());
        QVERIFY(matches(list[19], QJsonDocument::fromJson(R"({"name": "color", "minimum": 1, "maximum": 3, "counts": [1, 3]})").object()));
        QVERIFY(matches(list[21], QJsonDocument::fromJson(R"({"name": "font", "minimum": 0, "counts": [0, 1, 2, 3, 4]})").object()));
    }
};

QTEST_GUILESS_MAIN(TstCommandLine)
#include "tst_commandline.moc"
