#include "expression/cexpression.h"
#include "expression/cfunctionregistry.h"
#include "expression/cproperty.h"
#include "expression/cpropertymap.h"
#include "objects/cpropertyobject.h"

#include <QElapsedTimer>
#include <QTest>

#include <memory>
#include <typeinfo>

namespace {

// The registry name of a function expression's class, found by building each entry once.
QString functionName(const CExpression* expression)
{
    for (const CFunctionEntry& entry : winsteps::functionRegistry::entries()) {
        std::unique_ptr<CFuncExpression> sample(entry.create({}, nullptr));
        if (typeid(*sample) == typeid(*expression))
            return QString::fromLatin1(entry.name);
    }
    return QStringLiteral("?");
}

// A compact description of a parsed expression: "null", "string:TEXT", "longlong:N",
// "double:N", "var:NAME" or "func:NAME/PARAMETER COUNT".
QString describe(const CExpression* e)
{
    if (!e)
        return QStringLiteral("null");
    if (auto v = dynamic_cast<const CVarExpression*>(e))
        return QStringLiteral("var:") + (v->variable() ? v->variable()->name() : QStringLiteral("?"));
    if (auto f = dynamic_cast<const CFuncExpression*>(e))
        return QStringLiteral("func:%1/%2").arg(functionName(f)).arg(f->parameterCount());
    const QVariant v = e->value();
    switch (v.typeId()) {
    case QMetaType::QString: return QStringLiteral("string:") + v.toString();
    case QMetaType::LongLong: return QStringLiteral("longlong:") + v.toString();
    case QMetaType::Double: return QStringLiteral("double:") + v.toString();
    default: return QStringLiteral("other:") + QString::fromLatin1(v.typeName());
    }
}

const QString countError = QStringLiteral("'%1' function has invalid number of parameters.\n");
const QString objectError = QStringLiteral("function does not take object parameters.\n");

} // namespace

class TstExpression : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // the root described; "" for any
        QTest::addColumn<QString>("errors");

        QTest::newRow("escaped apostrophe") << "  'it\\'s'  " << "string:it's" << "";
        QTest::newRow("other backslash stays") << "'a\\b'" << "string:a\\b" << "";
        QTest::newRow("unescaped apostrophe") << "'it's'" << "null" << "Invalid character(s) in constant expression: 'it's'\n";
        QTest::newRow("lone apostrophe") << "'" << "string:" << "";
        QTest::newRow("empty quotes") << "''" << "string:" << "";
        QTest::newRow("negative integer") << "-7" << "longlong:-7" << "";
        QTest::newRow("integer out of range") << "99999999999999999999" << "longlong:0" << "";
        QTest::newRow("negative double") << "-0.25" << "double:-0.25" << "";
        QTest::newRow("any middle character") << "3x5" << "double:0" << "";
        QTest::newRow("plain text") << "abc def" << "string:abc def" << "";
        QTest::newRow("plain text with a minus") << "-a" << "string:-a" << "";
        QTest::newRow("comma") << "a,b" << "null" << "Invalid expression: a,b\n";
        QTest::newRow("double quote") << " \"x\"" << "null" << "Invalid expression:  \"x\"\n";
        QTest::newRow("closing parenthesis only") << "a)" << "null" << "Invalid expression: a)\n";
        QTest::newRow("empty") << "" << "string:" << "";
        QTest::newRow("blanks") << "   " << "string:" << "";
        QTest::newRow("variable") << "$name" << "var:name" << "";
        QTest::newRow("dotted variable") << "$fsm.version" << "var:version" << "";
        QTest::newRow("lone dollar") << "$" << "var:" << "";
        QTest::newRow("blank in variable") << "$my var" << "null" << "Invalid character(s) in variable name: $my var\n";
        QTest::newRow("call as variable") << "$f(x)" << "null" << "Invalid character(s) in variable name: $f(x)\n";
        QTest::newRow("call") << "concat('a','b')" << "func:concat/2" << "";
        QTest::newRow("parenthesised call") << "((concat('a','b')))" << "func:concat/2" << "";
        QTest::newRow("parenthesised constant") << "( 7 )" << "longlong:7" << "";
        QTest::newRow("empty parentheses") << "()" << "string:" << "";
        QTest::newRow("errors copied per parenthesis") << "((add(1)))" << "func:add/1"
                                                       << countError.arg("add") + countError.arg("add") + countError.arg("add");
        QTest::newRow("unknown name lower-cased") << "Concat('a','b')" << "null" << "Invalid function name: concat\n";
        QTest::newRow("blank before parenthesis") << "concat ('a','b')" << "null" << "Invalid function name: concat \n";
        QTest::newRow("parameter errors first") << "NoSuch(1, $a b)" << "null"
                                                << "Invalid character(s) in variable name:  $a b\nInvalid function name: nosuch\n";
        QTest::newRow("too few parameters") << "add(1)" << "func:add/1" << countError.arg("add");
        QTest::newRow("empty font") << "font()" << "func:font/1" << "";
        QTest::newRow("empty negate") << "negate()" << "func:negate/1" << "";
        QTest::newRow("out of order") << "len(a)(b)" << "func:len/0" << "Invalid parenthese sequence.\n" + countError.arg("len");
        QTest::newRow("unterminated quote dropped") << "concat('a, 'b')" << "func:concat/0" << countError.arg("concat");
        QTest::newRow("failed parameter kept") << "concat($a b, 'x')" << "func:concat/2" << "Invalid character(s) in variable name: $a b\n";
        // A function that takes no objects says so once, however many it is given ("": any root).
        QTest::newRow("one object") << "uppercase(findnodes($d,'x'))" << "" << objectError;
        QTest::newRow("three objects, one line") << "concat(findnodes($d,'x'), 'a', objectlist(1), findfirstnode($d,'y'))" << "" << objectError;
        QTest::newRow("with count error") << "negate(findnodes($d,'x'), 1)" << "" << objectError + countError.arg("negate");
        QTest::newRow("objects allowed") << "count(findnodes($d,'x'))" << "" << "";
        QTest::newRow("value of an xml function") << "concat(xmltostring($d), 'a')" << "" << "";
        QTest::newRow("unset variable is no object") << "concat($o, 'a')" << "" << "";
        QTest::newRow("makelist of an object") << "concat(makelist(1, objectlist(0)), 'a')" << "" << objectError;
        QTest::newRow("makelist of values") << "concat(makelist(1, 2), 'a')" << "" << "";
        QTest::newRow("element of an object") << "concat(element(objectlist(0), 0), 'a')" << "" << objectError;
        QTest::newRow("failed first parameter") << "concat(element($a b, 0), 'a')" << "" << "Invalid character(s) in variable name: $a b\n";

        // Nesting is bounded (so no input exhausts the stack) and long inputs parse in linear
        // time: finishing is the test, the time is shown for whoever looks.
        const int max = CPropertyMap::MaxNesting;
        const auto huge = [](const char* name, const QString& text, const char* expected, bool refused) {
            QTest::newRow(name) << text << expected << (refused ? "Invalid expression: " + text + "\n" : QString());
        };
        huge("at the bound", QString(max, '(') + "x" + QString(max, ')'), "string:x", false);
        huge("one beyond", QString(max + 1, '(') + "x" + QString(max + 1, ')'), "null", true);
        huge("calls at the bound", QString("negate(").repeated(max) + "1" + QString(max, ')'), "func:negate/1", false);
        huge("calls beyond", QString("negate(").repeated(max + 1) + "1" + QString(max + 1, ')'), "null", true);
        huge("quoted parentheses do not nest", "concat('" + QString(1000, '(') + "', (('x')))", "func:concat/2", false);
        huge("100000 opening", QString(100000, '('), "null", true);
        huge("100000 balanced", QString(100000, '(') + QString(100000, ')'), "null", true);
        huge("nesting in a parameter list", "concat(1, " + QString(100000, '(') + "x" + QString(100000, ')') + ")", "null", true);
        huge("many parameters", "concat(" + QString("'a',").repeated(25000) + "'b')", "func:concat/25001", false);
        huge("long constant", "'" + QString(100000, 'x') + "'", "", false);
        huge("long quoted commas", "concat('" + QString("a,(").repeated(33000) + "', 'b')", "func:concat/2", false);
        huge("long digits", QString(100000, '7') + "x", "", false);
        huge("long decimal-like", QString(50000, '1') + "." + QString(50000, '2'), "double:0", false);
        huge("deep and long", QString(max, '(') + "'" + QString(100000, 'x') + "'" + QString(max, ')'), "", false);
        huge("many variables", "concat(" + QString("$v,").repeated(20000) + "$v)", "func:concat/20001", false);
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(QString, errors);

        QElapsedTimer timer;
        timer.start();
        CPropertyMap map(nullptr, QStringLiteral("out"), text);
        if (text.size() > 10000)
            qInfo("%d characters parsed in %lld ms", int(text.size()), timer.elapsed());
        if (!expected.isEmpty())
            QCOMPARE(describe(map.root()), expected);
        QCOMPARE(map.errors(), errors);
        QCOMPARE(map.isValid(), errors.isEmpty());
        if (!errors.isEmpty()) { // never evaluated, with or without a root
            QVERIFY(!map.evaluate());
            QVERIFY(!map.target().isSet());
        }
    }

    void splitParameters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("errors");

        QTest::newRow("empty text") << "" << QStringList{ "string:" } << "";
        QTest::newRow("empty pieces kept") << "a,,b" << QStringList{ "string:a", "string:", "string:b" } << "";
        QTest::newRow("trailing comma") << "a," << QStringList{ "string:a", "string:" } << "";
        QTest::newRow("quoted comma") << "'a,b', 'c'" << QStringList{ "string:a,b", "string:c" } << "";
        QTest::newRow("escaped apostrophe in quotes") << "'a\\', b', 1" << QStringList{ "string:a', b", "longlong:1" } << "";
        QTest::newRow("nested call") << "add(1,2), 3" << QStringList{ "func:add/2", "longlong:3" } << "";
        QTest::newRow("deeper nesting") << "concat(add(1,2),(3)), 4" << QStringList{ "func:concat/2", "longlong:4" } << "";
        QTest::newRow("quoted parentheses") << "'a(', 'b)'" << QStringList{ "string:a(", "string:b)" } << "";
        QTest::newRow("quoted parenthesis in call") << "concat('(', 'x'), 1" << QStringList{ "func:concat/2", "longlong:1" } << "";
        QTest::newRow("order test") << "1, a)(b, 2" << QStringList{ "longlong:1" } << "Invalid parenthese sequence.\n";
        QTest::newRow("unclosed parenthesis dropped") << "x, len(a,b" << QStringList{ "string:x" } << "";
        QTest::newRow("unterminated quote dropped") << "'a, 'b'" << QStringList{} << "";
        QTest::newRow("failed piece is null") << "$a b, 1" << QStringList{ "null", "longlong:1" }
                                              << "Invalid character(s) in variable name: $a b\n";
    }

    void splitParameters()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QFETCH(QString, errors);

        CPropertyMap map(nullptr, QStringLiteral("out"), QString());
        const QList<CExpression*> parameters = map.splitParameters(text);
        QStringList described;
        for (const CExpression* e : parameters)
            described << describe(e);
        QCOMPARE(described, expected);
        QCOMPARE(map.errors(), errors);
        qDeleteAll(parameters);
    }

    void countOutsideQuotes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sub");
        QTest::addColumn<int>("expected");

        QTest::newRow("plain") << "f(a(b))" << "(" << 2;
        QTest::newRow("sub longer than text") << "(" << "((" << 0;
        QTest::newRow("inside quotes") << "'(' (" << "(" << 1;
        QTest::newRow("after closed quote") << "'a' (" << "(" << 1;
        QTest::newRow("open quote before") << "'(" << "(" << 0;
        QTest::newRow("odd quotes after") << "'x'('" << "(" << 0;
        QTest::newRow("escaped apostrophe before") << "\\'(" << "(" << 1;
        QTest::newRow("quotes after only") << "('x'" << "(" << 1;
        QTest::newRow("rest read as its own text") << "\\'" << "\\" << 0;
        QTest::newRow("longer sub") << "ab 'ab' ab" << "ab" << 2;
        QTest::newRow("adjacent apostrophes") << "''(" << "(" << 1;
        QTest::newRow("escaped then plain apostrophe") << "x\\''(" << "(" << 0;
    }

    void countOutsideQuotes()
    {
        QFETCH(QString, text);
        QFETCH(QString, sub);
        QFETCH(int, expected);
        QCOMPARE(CPropertyMap::countOutsideQuotes(text, sub), expected);
    }

    void objectParameterFromVariable()
    {
        CPropertyMap map(nullptr, QStringLiteral("out"), QString());
        CPropertyObject object;
        auto a = new CVarExpression(QStringLiteral("a"), &map);
        auto b = new CVarExpression(QStringLiteral("b"), &map);
        a->variable()->setObject(&object);
        b->variable()->setObject(&object);
        std::unique_ptr<CFuncExpression> f(winsteps::functionRegistry::create(QStringLiteral("concat"), { a, nullptr, b }, &map));
        QCOMPARE(f->errors(), objectError);
        QCOMPARE(map.variables().size(), 2);
    }

    void property_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("location");

        QTest::newRow("machine") << "fsm.version" << "version" << int(CProperty::Machine);
        QTest::newRow("application") << "app.lang" << "lang" << int(CProperty::Application);
        QTest::newRow("further dots") << "fsm.a.b" << "a.b" << int(CProperty::Machine);
        QTest::newRow("state") << "value" << "value" << int(CProperty::State);
        QTest::newRow("other prefix") << "other.x" << "other.x" << int(CProperty::State);
        QTest::newRow("prefix is case-sensitive") << "FSM.x" << "FSM.x" << int(CProperty::State);
        QTest::newRow("empty rest") << "fsm." << "fsm." << int(CProperty::State);
        QTest::newRow("prefix alone") << "app" << "app" << int(CProperty::State);
        QTest::newRow("empty prefix") << ".x" << ".x" << int(CProperty::State);
        QTest::newRow("empty") << "" << "" << int(CProperty::State);
    }

    void property()
    {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(int, location);

        const CProperty p(text);
        QCOMPARE(p.name(), name);
        QCOMPARE(p.location(), location);
    }

    void mapEvaluate()
    {
        CPropertyMap constant(nullptr, QStringLiteral("fsm.out"), QStringLiteral("'abc'"));
        QVERIFY(constant.isValid());
        QVERIFY(constant.evaluate());
        QCOMPARE(constant.target().value(), QVariant(QStringLiteral("abc")));
        QCOMPARE(constant.target().location(), int(CProperty::Machine));

        CPropertyMap variable(nullptr, QStringLiteral("out"), QStringLiteral("$in"));
        QVERIFY(variable.isValid());
        QCOMPARE(variable.variables().size(), 1);
        QVERIFY(!variable.evaluate()); // not filled yet
        QVERIFY(!variable.target().isSet());

        variable.variables().first()->setValue(qlonglong(7));
        QVERIFY(variable.evaluate());
        QCOMPARE(variable.target().value(), QVariant(qlonglong(7)));

        CPropertyObject object;
        variable.variables().first()->setObject(&object);
        QVERIFY(variable.evaluate());
        QCOMPARE(variable.target().object(), &object);
        QVERIFY(!variable.target().value().isValid()); // an object replaces the value
        variable.variables().first()->setValue(qlonglong(8));
        QVERIFY(variable.evaluate());
        QCOMPARE(variable.target().object(), nullptr); // and a value the object
        QCOMPARE(variable.target().value(), QVariant(qlonglong(8)));

        // Every occurrence of a name is a variable of its own.
        CPropertyMap three(nullptr, QStringLiteral("out"), QStringLiteral("concat($a, $fsm.a, $a)"));
        QCOMPARE(three.variables().size(), 3);
        QCOMPARE(three.variables().at(1)->location(), int(CProperty::Machine));
        QVERIFY(three.variables().at(0) != three.variables().at(2));
    }
};

QTEST_GUILESS_MAIN(TstExpression)
#include "tst_expression.moc"
