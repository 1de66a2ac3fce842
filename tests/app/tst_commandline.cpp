// The output options of run, check and eval through the winsteps command: --quiet and
// --verbose, the --json forms, strict runs and their warnings, and eval's function list.

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

    // Exit status; standard output: a JSON value it must match, else a regular expression found
    // in it; standard error: a regular expression found in it, and its "warning:" lines counted.
    void commands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<int>("warnings");

        // Line 2: a path with a hive name; 3: a required value declared empty; 4: an event that
        // "a" does not declare; 5: a state nobody reaches.
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
        const QString machine = m_dir.filePath(QStringLiteral("machine"));
        QVERIFY(runWinsteps({"machine", "init", machine}).exitCode == 0);
        const QString line = R"(^linear: ended in state "done" with event "finished" \(exit status 0\)\n$)";
        const auto row = [](const char* name, const QStringList& arguments, int status, const QString& out,
                            const QString& err, int warnings = 0) {
            QTest::newRow(name) << arguments << status << out << err << warnings;
        };

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
        row("types --json", {"types", "--json"}, 0, R"({"factories": [{"name": "host"}, {}]})", "^$");
        row("machine show --json", {"machine", "show", machine, "--json"}, 0, R"({"system": {"family": "NT"}})", "");
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
        // Wrapped in a list, so that null and scalars parse too.
        const QJsonValue expected = QJsonDocument::fromJson("[" + out.toUtf8() + "]").array().first();
        if (expected.isUndefined())
            QVERIFY2(QRegularExpression(out).match(run.out).hasMatch(), qPrintable(run.out));
        else
            QVERIFY2(matches(QJsonDocument::fromJson("[" + run.out.toUtf8() + "]").array().first(), expected), qPrintable(run.out));
        QVERIFY2(QRegularExpression(err).match(run.err).hasMatch(), qPrintable(run.err));
        QCOMPARE(run.err.count(QStringLiteral("warning:")), warnings);
        if (const qsizetype at = arguments.indexOf(QStringLiteral("--trace")); at > 0)
            QVERIFY(testsupport::readFile(arguments.at(at + 1)).contains("--- State welcome: enter state"));
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

QTEST_GUILESS_MAIN(TstCommandLine)
#include "tst_commandline.moc"
