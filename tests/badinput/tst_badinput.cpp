// The bad-input catalogue: one table per parser, each row a malformed or hostile input with
// the outcome it must have (the exact error, an empty or null result, a machine left as it
// was). Rows that the area tests already hold are not repeated here.

#include "actions/cactioncopyfiles.h"
#include "expression/cxpathnode.h"
#include "expression/cpropertymap.h"
#include "objects/cpropertyobject.h"
#include "support/exprtesting.h"
#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/regfile.h"
#include "support/files.h"
#include "support/freshmachine.h"
#include "support/registryvalues.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace winsteps::platform;
using emulated::EmulatedMachine;
using testsupport::exported;
using namespace testsupport;

namespace {

// Text made from raw bytes as a caller reading a file would make it.
QString utf8(const char* bytes, int size = -1) { return QString::fromUtf8(bytes, size); }

const QString replacement(QChar(0xFFFD));

// config() without the object name every object has.
QStringList fields(const CPropertyObject& object)
{
    QStringList list = object.config();
    list.removeIf([](const QString& entry) { return entry.startsWith(QLatin1String("objectName=")); });
    return list;
}

// Every file and link below dir with its content (or link target), so a test can tell that
// nothing changed there.
QStringList snapshot(const QString& dir)
{
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        const QString name = QDir(dir).relativeFilePath(info.absoluteFilePath());
        entries << name + (info.isSymLink() ? QLatin1String(" -> ") + info.symLinkTarget()
                           : info.isDir()   ? QStringLiteral("/")
                                            : QLatin1String(" = ") + QString::fromUtf8(readFile(info.absoluteFilePath())));
    }
    entries.sort();
    return entries;
}

// A machine in base/machine beside a folder "outside" off it; both hold a victim.txt that no
// removal may touch.
struct Sandbox
{
    explicit Sandbox(const QString& folder)
        : base(folder)
    {
        QString error;
        QVERIFY(writeFile(outside + QStringLiteral("/victim.txt"), "keep me") && writeFile(base + QStringLiteral("/victim.txt"), "keep me"));
        m = EmulatedMachine::openFolder(QStringLiteral("winxp-sp2"), base + QStringLiteral("/machine"), &error);
        QVERIFY2(m, qPrintable(error));
    }
    // Restarts the machine, then checks that nothing outside drive C: changed.
    QList<EmulatedMachine::BootEntry> rebootKeepingVictims() const
    {
        QList<EmulatedMachine::BootEntry> done;
        QString error;
        if (!m->reboot(&done, &error))
            QTest::qFail(qPrintable(error), __FILE__, __LINE__);
        const QStringList seen = snapshot(outside) << QString::fromUtf8(readFile(base + QStringLiteral("/victim.txt")));
        if (seen != QStringList{"victim.txt = keep me", "keep me"})
            QTest::qFail(qPrintable(QStringLiteral("changed outside drive C: ") + seen.join(QLatin1String(", "))), __FILE__, __LINE__);
        return done;
    }
    const QString base;
    const QString outside = base + QStringLiteral("/outside");
    std::unique_ptr<EmulatedMachine> m;
};

const char* const regHead = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Bad]\r\n\"ok\"=\"1\"\r\n";

} // namespace

class TstBadInput : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // ---- configuration strings: setConfig() then config() -----------------------------------
    void configStrings_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("expected"); // config() without objectName

        const QString n1024(1024, 'n');
        const QString x1022(1022, 'x'), x1023(1023, 'x'), x1024(1024, 'x');
        const QString e(QChar(0xE9)); // two bytes in UTF-8

        QTest::newRow("name of 1024 bytes") << n1024 + "=v" << QStringList{n1024 + "=v"};
        // The 1,025th byte starts the next pair.
        QTest::newRow("name of 1025 bytes") << n1024 + "m=v" << QStringList{"m=v", n1024 + "="};
        QTest::newRow("unquoted value 1025 bytes, last character split") << "a=" + x1023 + e << QStringList{"a=" + x1023};
        QTest::newRow("unquoted value 1024 bytes ending in two-byte character") << "a=" + x1022 + e << QStringList{"a=" + x1022 + e};
        QTest::newRow("quoted value of 1025 bytes") << "a=\"" + x1024 + "y\"" << QStringList{"a=" + x1023};
        QTest::newRow("quoted value 1024 bytes, last character split") << "a=\"" + x1022 + e + "\"" << QStringList{"a=" + x1022};
        QTest::newRow("value of 100000 bytes") << "a=" + QString(100000, 'z') + " b=1" << QStringList{"a=" + QString(1024, 'z'), "b=1"};
        QTest::newRow("trailing backslash unquoted") << "a=x\\" << QStringList{"a=x\\"};
        QTest::newRow("trailing backslash escapes the closing quote") << "a=\"x\\\" b=1" << QStringList{"a="};
        QTest::newRow("lone backslash") << "\\" << QStringList{"\\="};
        QTest::newRow("escaped backslash before the quote") << "a=\"x\\\\\" b=1" << QStringList{"a=x\\\\", "b=1"};
        QTest::newRow("unterminated quote drops the rest") << "a=1 b=\"2 c=3 d=4" << QStringList{"a=1", "b="};
        QTest::newRow("lone quote as value") << "a=\"" << QStringList{"a="};
        QTest::newRow("quote in a name") << "\"a=1" << QStringList{"\"a=1"};
        QTest::newRow("embedded NUL in a value") << QString("a=x") + QChar(0) + "y b=2" << QStringList{QString("a=x") + QChar(0) + "y", "b=2"};
        QTest::newRow("invalid UTF-8 in a value") << utf8("a=\xff\xfe b=2") << QStringList{"a=" + replacement + replacement, "b=2"};
        // Text that is no valid UTF-16 keeps the rest of its value.
        QTest::newRow("lone surrogate") << "a=" + QString(QChar(0xD800)) + "z" << QStringList{"a=?z"};
        QTest::newRow("10000 pairs") << QString("k=v ").repeated(10000) << QStringList{"k=v"};
        // A string of blanks holds no pair (no data field with an empty name).
        QTest::newRow("only blanks") << " \t  \t" << QStringList{};
        // A name with a NUL is a data field of that name: the part before the NUL must not pick
        // the declared property "objectName" and overwrite the object's name.
        QTest::newRow("NUL in a declared name") << QString("objectName") + QChar(0) + "x=evil" << QStringList{QString("objectName") + QChar(0) + "x=evil"};
    }

    void configStrings()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, expected);
        CPropertyObject object(nullptr, "o");
        QVERIFY(object.setConfig(input));
        QCOMPARE(object.objectName(), QStringLiteral("o"));
        QCOMPARE(fields(object), expected);
    }

    // ---- expressions: parsed as a property map, evaluated once when valid -------------------
    void expressions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // exprtesting::evaluate(), "error:..." for a refusal

        const QString count = QStringLiteral("error:'%1' function has invalid number of parameters.\n");
        const auto invalid = [](const QString& text) -> QString { return "error:Invalid expression: " + text + "\n"; };
        const QString deepCalls = QString("uppercase(").repeated(100000) + "'x'" + QString(100000, ')');
        const QString hiddenByEscape = "\\'" + QString(100000, '(') + "x" + QString(100000, ')');
        const QString quotesAndParens = QString("('").repeated(50000) + QString("')").repeated(50000);
        const QString closing(100000, ')');
        const QString longName = QString(100000, 'f') + "(1)";

        QTest::newRow("unknown function, 100000-character name") << longName << "error:Invalid function name: " + QString(100000, 'f') + "\n";
        QTest::newRow("unknown function inside a known one") << "concat('a', nosuch())" << "error:Invalid function name: nosuch\n";
        QTest::newRow("unknown variable is empty text") << "$nosuch" << "QString:";
        QTest::newRow("unknown variable as a parameter") << "concat('<', $nosuch, '>')" << "QString:<>";
        QTest::newRow("unknown variable as a number") << "add($nosuch, 2)" << "qlonglong:2";
        // Empty parentheses hold one empty parameter. (Counts of each function: the function tests.)
        QTest::newRow("empty parentheses for uppercase") << "uppercase()" << "QString:";
        QTest::newRow("wrong count deep inside") << "concat('a', uppercase(lowercase('b', 'c')))" << count.arg("lowercase");
        QTest::newRow("unterminated string") << "'abc" << invalid("'abc");
        // The last apostrophe always closes the string.
        QTest::newRow("string ending in an escaped apostrophe") << "'abc\\'" << "QString:abc\\";
        QTest::newRow("unterminated string in a call") << "concat('a" << invalid("concat('a");
        QTest::newRow("invalid UTF-8 in a string") << utf8("'\xff\xfe'") << "QString:" + replacement + replacement;
        QTest::newRow("invalid UTF-8 in a function name") << utf8("upper\xff" "case('a')") << "error:Invalid function name: upper" + replacement + "case\n";
        QTest::newRow("invalid UTF-8 in a variable name") << utf8("$v\xff") << "QString:";
        QTest::newRow("embedded NUL in a string") << QString("'a") + QChar(0) + "b'" << QString("QString:a") + QChar(0) + "b";
        QTest::newRow("embedded NUL in a function name")
            << QString("upper") + QChar(0) + "case('a')" << QString("error:Invalid function name: upper") + QChar(0) + "case\n";
        QTest::newRow("100000 nested calls") << deepCalls << invalid(deepCalls);
        QTest::newRow("100000 parentheses behind an escaped apostrophe") << hiddenByEscape << invalid(hiddenByEscape);
        QTest::newRow("100000 closing parentheses") << closing << invalid(closing);
        QTest::newRow("50000 quoted and open parentheses") << quotesAndParens << invalid(quotesAndParens);
    }

    void expressions()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(exprtesting::evaluate(text), expected);
    }

    // ---- paths and predicates, searched from the root of a fixed document -------------------
    void paths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("found"); // full names

        const QString item = QStringLiteral("/r/item");
        QTest::newRow("only slashes") << "//" << QStringList{};
        QTest::newRow("three slashes") << "///item" << QStringList{};
        QTest::newRow("lone @") << "@" << QStringList{};
        QTest::newRow("predicate without a step") << "[@id='a']" << QStringList{};
        QTest::newRow("empty predicate") << "item[]" << QStringList{};
        QTest::newRow("attribute without a name in a test") << "item[@='a']" << QStringList{};
        QTest::newRow("lone and") << "item[and]" << QStringList{};
        // Tests are joined left to right; an operator without a test after it adds nothing.
        QTest::newRow("dangling and") << "item[@id='a' and]" << QStringList{item};
        QTest::newRow("doubled operator") << "item[@id='a' or or @id='b']" << QStringList{item, item};
        QTest::newRow("three apostrophes") << "item[@id=''']" << QStringList{};
        QTest::newRow("negative position") << "item[-1]" << QStringList{};
        QTest::newRow("step below an attribute") << "item/@id/x" << QStringList{};
        QTest::newRow("parents above the document") << "../../../item" << QStringList{};
        QTest::newRow("invalid UTF-8 in a name") << utf8("it\xffm") << QStringList{};
        QTest::newRow("embedded NUL in a name") << QString("item") + QChar(0) << QStringList{};
        QTest::newRow("embedded NUL in a value") << QString("item[@id='a") + QChar(0) + "']" << QStringList{};
        QTest::newRow("unclosed quote of 100000 characters") << "item[@id='" + QString(100000, 'x') << QStringList{};
        QTest::newRow("100000 predicates joined by or") << "item[" + QString("@id='q' or ").repeated(100000) + "@id='a']" << QStringList{item};
    }

    void paths()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, found);
        QString error;
        std::unique_ptr<CXPathNode> root(CXPathNode::parseDocument(
            "<r><item id='a'><name>x</name></item><item id='b'/><group><item id='c'/></group></r>", QStringLiteral("d.xml"), &error));
        QVERIFY2(root, qPrintable(error));
        QStringList names;
        for (const auto& node : root->findNodes(path))
            names << node->fullName();
        QCOMPARE(names, found);
    }

    // ---- XML documents given to wizards -----------------------------------------------------
    void documents_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error"); // the message starts so; empty: accepted

        const QByteArray laughs = "<?xml version='1.0'?><!DOCTYPE r [<!ENTITY a 'aaaaaaaaaa'>"
                                  "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'><!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>"
                                  "<!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'><!ENTITY e '&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;'>"
                                  "<!ENTITY f '&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;'><!ENTITY g '&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;'>"
                                  "<!ENTITY h '&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;'>]><r>&h;</r>";
        QTest::newRow("100000 nested elements") << QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000)
                                                << "d.xml:1: elements nested deeper than 1000 levels";
        QTest::newRow("invalid UTF-8") << QByteArray("<r>\xff\xfe</r>") << "d.xml:1: not well-formed XML:";
        QTest::newRow("NUL byte") << bytes("<r>a\0b</r>") << "d.xml:1: not well-formed XML:";
        QTest::newRow("only a declaration") << QByteArray("<?xml version='1.0'?>") << "d.xml:1: not well-formed XML:";
        QTest::newRow("two roots") << QByteArray("<a/>\n<b/>") << "d.xml:2: not well-formed XML:";
        QTest::newRow("unterminated attribute") << QByteArray("<r a='1/>") << "d.xml:1: not well-formed XML:";
        QTest::newRow("undefined entity") << QByteArray("<r>&nope;</r>") << "d.xml:1: not well-formed XML:";
        QTest::newRow("entity expansion bomb") << laughs << "d.xml:1: not well-formed XML:";
    }

    void documents()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        QString message;
        std::unique_ptr<CXPathNode> root(CXPathNode::parseDocument(text, QStringLiteral("d.xml"), &message));
        QVERIFY(!root);
        QVERIFY2(message.startsWith(error), qPrintable(message));
    }

    // ---- registry-editor files: refused whole, the registry unchanged -----------------------
    void regFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("error");   // exact; empty: the file is accepted
        QTest::addColumn<QString>("written"); // accepted: the export then holds this text

        const QByteArray head(regHead);
        const QString notRegistry = QStringLiteral("line 1: not a registry file (it must begin with \"Windows Registry Editor Version 5.00\")");
        const QString bad = QStringLiteral("[HKEY_CURRENT_USER\\Software\\Bad]\r\n\"ok\"=\"1\"\r\n");
        QTest::newRow("empty file") << QByteArray() << notRegistry << "";
        QTest::newRow("byte-order mark only") << QByteArray("\xEF\xBB\xBF") << notRegistry << "";
        QTest::newRow("binary garbage") << bytes("\x7f" "ELF\x02\x01\x01\0\0\0") << notRegistry << "";
        QTest::newRow("value name without closing quote") << head + "\"v=\"x\"\r\n" << "line 5: expected \"=\" after the value name" << "";
        QTest::newRow("text ending in an escaped quote") << head + "\"v\"=\"abc\\\"\r\n" << "line 5: a text value must be one quoted string" << "";
        QTest::newRow("empty dword") << head + "\"d\"=dword:\r\n" << "line 5: dword: wants up to 8 hex digits" << "";
        QTest::newRow("negative dword") << head + "\"d\"=dword:-1\r\n" << "line 5: dword: wants up to 8 hex digits" << "";
        QTest::newRow("dword of 9 digits") << head + "\"d\"=dword:123456789\r\n" << "line 5: dword: wants up to 8 hex digits" << "";
        QTest::newRow("unclosed section") << head + "[HKEY_CURRENT_USER\\X\r\n" << "line 5: a key section must end with \"]\"" << "";
        QTest::newRow("unquoted value name") << head + "name=\"x\"\r\n" << "line 5: expected \"name\"=..., @=... or a [key] section" << "";
        QTest::newRow("value before any section") << QByteArray("Windows Registry Editor Version 5.00\r\n\"v\"=\"x\"\r\n") << "line 2: a value outside of a key section" << "";
        QTest::newRow("removal of a hive") << head + "[-HKEY_CURRENT_USER]\r\n" << "line 5: a hive cannot be removed" << "";
        QTest::newRow("type beyond 32 bits") << head + "\"t\"=hex(100000000):01\r\n" << "line 5: expected hex: or hex(TYPE):" << "";
        QTest::newRow("hex byte of three digits") << head + "\"h\"=hex:123\r\n" << "line 5: hex data must be bytes such as 01,ff" << "";
        QTest::newRow("unknown data") << head + "\"u\"=frob:1\r\n" << "line 5: unknown value data \"frob:1\"" << "";
        QTest::newRow("section of a hive name only") << head + "[HKEY_NOWHERE]\r\n"
                                                     << "line 5: \"HKEY_NOWHERE\" does not begin with a hive such as HKEY_LOCAL_MACHINE" << "";
        // The registry refuses such a path: the whole file is refused before the first write.
        QTest::newRow("key with an empty name") << head + "[HKEY_CURRENT_USER\\Software\\\\X]\r\n"
                                                << "line 5: \"HKEY_CURRENT_USER\\Software\\\\X\" has an empty key name" << "";
        QTest::newRow("removal of a key with an empty name") << head + "[-HKEY_CURRENT_USER\\\\Software]\r\n"
                                                             << "line 5: \"HKEY_CURRENT_USER\\\\Software\" has an empty key name" << "";
        // Accepted: a stray last byte of a UTF-16 file is no character; bytes that are no UTF-8
        // read as U+FFFD; a NUL inside text is kept (and written back as hex(1)); a continuation
        // on the last line ends the data.
        QTest::newRow("UTF-16 with an odd byte") << utf16("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Bad]\r\n\"ok\"=\"1\"\r\n") + "x"
                                                 << "" << bad;
        QTest::newRow("invalid UTF-8 in a key") << head + "[HKEY_CURRENT_USER\\Software\\\xff\xfe]\r\n" << ""
                                                << "[HKEY_CURRENT_USER\\Software\\" + replacement + replacement + "]\r\n";
        QTest::newRow("NUL in a value") << head + bytes("\"v\"=\"a\0b\"\r\n") << "" << bad + "\"v\"=hex(1):61,00,00,00,62,00,00,00\r\n";
        QTest::newRow("continuation at the end of the file") << head + "\"h\"=hex:01,02,\\\r\n" << "" << bad + "\"h\"=hex:01,02\r\n";
    }

    void regFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, error);
        QFETCH(QString, written);
        auto m = testsupport::freshMachine(m_dir, QStringLiteral("winxp-sp2"));
        QVERIFY(m);
        const QString before = exported(m->registry());
        std::string got;
        const bool imported = importRegistry(m->registry(), std::vector<std::uint8_t>(file.begin(), file.end()), &got);
        if (error.isEmpty()) {
            QVERIFY2(imported, got.c_str());
            const QString after = exported(m->registry());
            QVERIFY2(after.contains(written), qPrintable(after.right(400)));
            return;
        }
        QVERIFY(!imported);
        QCOMPARE(QString::fromStdString(got), error);
        QCOMPARE(exported(m->registry()), before);
    }

    // ---- copy masks: only the files the mask names, nothing written outside the destination ---
    void copyMasks_data()
    {
        QTest::addColumn<QString>("source");  // below the source folder
        QTest::addColumn<QStringList>("copied"); // file names in the destination

        QTest::newRow("mask ..") << "/.." << QStringList{};
        QTest::newRow("mask .") << "/." << QStringList{};
        QTest::newRow("mask with a backslash climbing out") << "/..\\*.txt" << QStringList{};
        QTest::newRow("mask with a NUL") << QString("/a.txt") + QChar(0) + "*" << QStringList{};
        QTest::newRow("masks of only |") << "/|||" << QStringList{};
        // A link to a file is copied as the file it names, into a plain file.
        QTest::newRow("star skips folders and links to folders") << "/*" << QStringList{"a.txt", "inside.lnk", "outfile.lnk"};
        QTest::newRow("link to a file outside") << "/out*.lnk" << QStringList{"outfile.lnk"};
        QTest::newRow("dangling link") << "/dangling.lnk" << QStringList{};
    }

    void copyMasks()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, copied);

        // Source and destination on the machine, so that the copy may write; "outside" off it.
        const QString base = QString::fromStdString(emulated::currentMachineFolder()) + QStringLiteral("/drive_c/copy%1").arg(++m_count);
        const QString src = base + QStringLiteral("/src");
        const QString dest = base + QStringLiteral("/dest");
        const QString outside = m_dir.filePath(QStringLiteral("outside%1").arg(m_count));
        QVERIFY(writeFile(src + QStringLiteral("/a.txt"), "a"));
        QVERIFY(writeFile(src + QStringLiteral("/sub/b.txt"), "b"));
        QVERIFY(writeFile(outside + QStringLiteral("/secret.txt"), "secret"));
        QVERIFY(writeFile(base + QStringLiteral("/up.txt"), "up"));
        QVERIFY(QFile::link(src + QStringLiteral("/a.txt"), src + QStringLiteral("/inside.lnk")));
        QVERIFY(QFile::link(outside, src + QStringLiteral("/outdir.lnk")));
        QVERIFY(QFile::link(outside + QStringLiteral("/secret.txt"), src + QStringLiteral("/outfile.lnk")));
        QVERIFY(QFile::link(outside + QStringLiteral("/gone.txt"), src + QStringLiteral("/dangling.lnk")));
        const QStringList outsideBefore = snapshot(outside);
        const QStringList sourceBefore = snapshot(src);

        CActionCopyFiles action(nullptr, "masks");
        action.addFile(src + source, dest);
        action.execute();
        const QStringList names = QDir(dest).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        QCOMPARE(names, copied);
        for (const QString& name : names)
            QVERIFY2(!QFileInfo(dest + QLatin1Char('/') + name).isSymLink(), qPrintable(name));
        QCOMPARE(snapshot(outside), outsideBefore);
        QCOMPARE(snapshot(src), sourceBefore);
        QCOMPARE(readFile(base + QStringLiteral("/up.txt")), QByteArray("up"));
    }

    // ---- removals at restart: asked for by delayed removal or written into the registry value
    // Windows keeps them in by something else; a restart carries out only those inside drive C:
    // and never touches anything outside it.
    void removals_data()
    {
        // "%OUT%" stands for the host folder outside the machine.
        QTest::addColumn<QString>("path");        // for moveFileEx(path, null, MOVEFILE_DELAY_UNTIL_REBOOT)
        QTest::addColumn<uint>("code");           // its result
        QTest::addColumn<QStringList>("entries"); // else source, target pairs as stored in the value
        QTest::addColumn<QStringList>("log");     // boot log: action + detail

        const auto delayed = [](const char* tag, const QString& path, uint code, const QStringList& log = {}) {
            QTest::newRow(tag) << path << code << QStringList() << log;
        };
        const auto written = [](const char* tag, const QStringList& entries, const QString& log) {
            QTest::newRow(tag) << QString() << uint(ERROR_SUCCESS) << entries << QStringList{log};
        };
        // ".." stops at the root of drive C:, as on Windows: the root is refused, the rest stays on C:.
        const QStringList onC{"not removed C:\\victim.txt: not found"};
        delayed("parent of drive C:", "C:\\..", ERROR_ACCESS_DENIED);
        delayed("climbing out through a folder", "C:\\Program Files\\..\\..\\..\\victim.txt", ERROR_SUCCESS, onC);
        delayed("mixed separators", "C:\\windows/..\\../victim.txt", ERROR_SUCCESS, onC);
        delayed("host path outside", "%OUT%/victim.txt", ERROR_PATH_NOT_FOUND);
        delayed("host folder outside", "%OUT%", ERROR_PATH_NOT_FOUND);
        delayed("other drive", "D:\\victim.txt", ERROR_PATH_NOT_FOUND);
        delayed("network path", "\\\\server\\share\\victim.txt", ERROR_PATH_NOT_FOUND);
        delayed("device path", "\\\\?\\C:\\..\\..\\victim.txt", ERROR_SUCCESS, onC);
        delayed("relative path", "..\\victim.txt", ERROR_PATH_NOT_FOUND);
        delayed("empty path", "", ERROR_PATH_NOT_FOUND);
        delayed("embedded NUL", QString("C:\\a") + QChar(0) + "\\..\\..\\..\\victim.txt", ERROR_PATH_NOT_FOUND);
        delayed("through a link to outside", "C:\\outlink\\victim.txt", ERROR_SUCCESS,
                {"not removed C:\\outlink\\victim.txt: outside drive C:"});
        delayed("the link to outside itself", "C:\\outlink", ERROR_SUCCESS, {"removed C:\\outlink"}); // as a link
        written("entry: parent of drive C:", {"\\??\\C:\\..\\victim.txt", ""}, onC.first());
        written("entry: host path", {"\\??\\%OUT%/victim.txt", ""}, "not removed \\??\\%OUT%/victim.txt: outside drive C:");
        written("entry: rename to the root", {"\\??\\C:\\inside.txt", "!\\??\\C:\\..\\.."},
                "not renamed C:\\inside.txt -> C:\\: outside drive C:");
        written("entry: rename from outside", {"\\??\\%OUT%/victim.txt", "!\\??\\C:\\taken.txt"},
                "not renamed \\??\\%OUT%/victim.txt -> !\\??\\C:\\taken.txt: outside drive C:");
        written("entry: last one without its target", {"\\??\\C:\\inside.txt"}, "not removed C:\\inside.txt: no target entry");
        written("entry: empty source", {"", ""}, "not removed : outside drive C:");
    }

    void removals()
    {
        QFETCH(QString, path);
        QFETCH(uint, code);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, log);

        const Sandbox box(m_dir.filePath(QStringLiteral("remove%1").arg(++m_count)));
        EmulatedMachine* m = box.m.get();
        QVERIFY(m && QFile::link(box.outside, m->hostPath(QStringLiteral("C:\\outlink"))));
        QVERIFY(writeFile(m->hostPath(QStringLiteral("C:\\inside.txt")), "inside"));
        const auto placed = [&box](QString text) { return text.replace(QLatin1String("%OUT%"), box.outside); };
        if (entries.isEmpty()) {
            QCOMPARE(uint(m->files().moveFileEx(placed(path).toStdString(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)), code);
        } else {
            QByteArray data;
            for (const QString& entry : entries)
                data += placed(entry).toUtf8() + '\0';
            m->setSystemAccess(true);
            QCOMPARE(setValue(m->registry(), HKEY_LOCAL_MACHINE, SESSION_MANAGER_KEY, PENDING_FILE_RENAME_OPERATIONS, REG_MULTI_SZ, data + '\0'),
                     ERROR_SUCCESS);
            m->setSystemAccess(false);
        }

        QStringList got, wanted;
        for (const auto& entry : box.rebootKeepingVictims())
            got << entry.action + QLatin1Char(' ') + entry.detail;
        for (const QString& line : log)
            wanted << placed(line);
        QCOMPARE(got, wanted);
        QCOMPARE(QFileInfo(m->hostPath(QStringLiteral("C:\\outlink"))).isSymLink(), path != QLatin1String("C:\\outlink"));
        QCOMPARE(readFile(m->hostPath(QStringLiteral("C:\\inside.txt"))), QByteArray("inside"));
        QVERIFY(m->pendingFileOperations().isEmpty());
    }

private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

QTEST_GUILESS_MAIN(TstBadInput)
#include "tst_badinput.moc"
