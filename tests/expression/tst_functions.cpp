// The expression function library: each function's rules as tables of expression texts
// and described results, the conversions the functions share, and who owns the objects
// that functions make (every object deleted once, none used after; run under ASan).

#include "support/exprtesting.h"
#include "support/testmachine.h"

#include "expression/carithmeticfunctions.h"
#include "expression/cfunctionregistry.h"
#include "expression/cxmlfunctions.h"
#include "objects/valueconversion.h"

#include <QImage>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

using exprtesting::describeObject;
using exprtesting::evaluate;

namespace {

const char* const Document = R"(<config>
  <group name="g1"><item id="a"><name>x</name></item><item id="b"/></group>
  <item id="c"/>
</config>)";

CPropertyObject* child(const char* name, const QVariantMap& fields = {})
{
    auto* object = new CPropertyObject(nullptr, name);
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        object->setProperty(it.key(), it.value());
    return object;
}

// Variables of the tables: $s, $n, $d, $sl, $o (fields a, b; objects c, d), $list (item1,
// item2, item10), $other (objects c, e), $doc (the root of Document).
std::unique_ptr<CPropertyObject> makeSource()
{
    auto source = std::make_unique<CPropertyObject>(nullptr, "source");
    source->setProperty("s", QStringLiteral("abc"));
    source->setProperty("n", qlonglong(5));
    source->setProperty("d", 2.5);
    source->setProperty("sl", QStringList{ "a", "b", "a" });

    CPropertyObject* o = child("o", { { "a", 1 }, { "b", "x" } });
    o->setObjectProperty(QStringLiteral("c"), child("c", { { "z", 9 } }));
    o->setObjectProperty(QStringLiteral("d"), child("d"));
    source->setObjectProperty(QStringLiteral("o"), o);

    CPropertyObject* list = child("list");
    for (int i : { 10, 1, 2 })
        list->setObjectProperty(QStringLiteral("item%1").arg(i), child(qPrintable(QStringLiteral("item%1").arg(i)), { { "v", i } }));
    source->setObjectProperty(QStringLiteral("list"), list);

    CPropertyObject* other = child("other");
    other->setObjectProperty(QStringLiteral("c"), child("c2"));
    other->setObjectProperty(QStringLiteral("e"), child("e"));
    source->setObjectProperty(QStringLiteral("other"), other);

    QString error;
    source->adoptObjectProperty(QStringLiteral("doc"), CXPathNode::parseDocument(Document, QStringLiteral("doc"), &error));
    return source;
}

// A state whose translation marks the text.
class TranslatingState : public CState
{
public:
    TranslatingState() : CState(nullptr, "page", QDomNode()) {}
    void execute() override {}
    QString translate(const char* context, const char* text) const override
    {
        lastContext = QString::fromUtf8(context);
        return QStringLiteral("T:") + QString::fromUtf8(text);
    }
    mutable QString lastContext;
};

const QString O = QStringLiteral("object:o{a=1,b=x,c=object:c{z=9},d=object:d{}}");
const QString List = QStringLiteral("object:list{item1=object:item1{v=1},item2=object:item2{v=2},item10=object:item10{v=10}}");

} // namespace

class TstFunctions : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<CPropertyObject> m_source;
    QTemporaryDir m_dir;

private Q_SLOTS:
    void init() { m_source = makeSource(); }
    void cleanup() { m_source.reset(); }

    void values_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        // Arithmetic: the result's type follows the kinds of the numbers summed.
        QTest::newRow("integers") << "add(1,2)" << "qlonglong:3";
        QTest::newRow("decimal text makes a double") << "add('1.5',2)" << "double:3.5";
        QTest::newRow("integer texts") << "add('1','2')" << "qlonglong:3";
        QTest::newRow("no numbers") << "add('a','b')" << "int:0";
        QTest::newRow("text after a number resets") << "add(1,'x')" << "int:0";
        QTest::newRow("number after a text sets") << "add('x',1)" << "qlonglong:1";
        QTest::newRow("double stays") << "add(1.5,'x',2)" << "double:3.5";
        QTest::newRow("variables") << "add($n,$d)" << "double:7.5";
        QTest::newRow("wraps") << "add(9223372036854775807,1)" << "qlonglong:-9223372036854775808";
        QTest::newRow("unsigned values leave no kind") << "add(len('ab'),len('c'))" << "int:0";
        QTest::newRow("unsigned value summed") << "add(len('ab'),1)" << "qlonglong:3";
        QTest::newRow("product") << "multiply(2,3,4)" << "qlonglong:24";
        QTest::newRow("product as double") << "multiply(2,0.5)" << "double:1";
        QTest::newRow("text is 0") << "multiply('a',2)" << "qlonglong:0";
        QTest::newRow("product wraps") << "multiply(4294967296,4294967297)" << "qlonglong:4294967296";
        QTest::newRow("divide texts") << "divide('7','2')" << "double:3.5";
        QTest::newRow("divide non-number") << "divide('x',2)" << "double:0";
        QTest::newRow("divide by zero text") << "divide(1,'0.0')" << "invalid";
        QTest::newRow("negate text") << "negate('5')" << "qlonglong:-5";
        QTest::newRow("negate double") << "negate(2.5)" << "double:-2.5";
        QTest::newRow("negate decimal text") << "negate('2.5')" << "qlonglong:0";
        QTest::newRow("negate nothing") << "negate()" << "qlonglong:0";
        QTest::newRow("negate smallest") << "negate(-9223372036854775808)" << "qlonglong:-9223372036854775808";
        // Nested arithmetic hands numbers to its caller without a QVariant: kinds and types as
        // if each inner result had been a value.
        QTest::newRow("nested integers") << "add($n,multiply($n,2))" << "qlonglong:15";
        QTest::newRow("nested double") << "add(1,multiply($d,2))" << "double:6";
        QTest::newRow("nested result without kind") << "add(add('a','b'),5)" << "qlonglong:5";
        QTest::newRow("nested results without kind") << "multiply(add('a','b'),add('c','d'))" << "int:0";
        QTest::newRow("text after a nested number resets") << "add(multiply(2,3),'x')" << "int:0";
        QTest::newRow("nested wraps") << "add(multiply(9223372036854775807,2),2)" << "qlonglong:0";
        QTest::newRow("nested integer text") << "multiply(add('2','3'),'4')" << "qlonglong:20";
        QTest::newRow("nested as text") << "concat(add(1,2),'-',multiply(2,0.5))" << "QString:3-1";
        QTest::newRow("negate nested") << "negate(multiply(2,0.5))" << "double:-1";
        QTest::newRow("divide nested") << "divide(add(1,2),multiply(2,2))" << "double:0.75";

        // Text functions.
        QTest::newRow("concat numbers") << "concat(1,2.5,'x')" << "QString:12.5x";
        QTest::newRow("a list has no text") << "concat(split('a b',' '),'x')" << "QString:x";
        QTest::newRow("uppercase") << "uppercase('abc')" << "QString:ABC";
        QTest::newRow("lowercase") << QString::fromUtf8("lowercase('ÄB')") << QString::fromUtf8("QString:äb");
        QTest::newRow("replace") << "replace('a.b.c','\\.','-')" << "QString:a-b-c";
        QTest::newRow("replace with capture") << "replace('abc','(b)','[\\1]')" << "QString:a[b]c";
        QTest::newRow("substr to end") << "substr('abcdef',2)" << "QString:cdef";
        QTest::newRow("substr length") << "substr('abcdef',2,2)" << "QString:cd";
        QTest::newRow("substr negative start") << "substr('abc',-1)" << "QString:";
        QTest::newRow("substr negative length") << "substr('abcdef',2,-1)" << "QString:cdef";
        QTest::newRow("substr at end") << "substr('abc',3)" << "QString:";
        QTest::newRow("substr long") << "substr('abc',0,100)" << "QString:abc";
        QTest::newRow("substr start in 32 bits") << "substr('abcdef',4294967297,2)" << "QString:bc";
        QTest::newRow("pos") << "pos('a.b.c','\\.')" << "int:1";
        QTest::newRow("pos backwards from the end") << "pos('a.b.c','\\.',-1)" << "int:3";
        QTest::newRow("pos backwards from the middle") << "pos('a.b.c','\\.',-3)" << "int:1";
        QTest::newRow("pos from") << "pos('a.b.c','\\.',2)" << "int:3";
        QTest::newRow("pos none") << "pos('abc','x')" << "int:-1";
        QTest::newRow("pos beyond") << "pos('abc','b',10)" << "int:-1";
        QTest::newRow("len number") << "len(12)" << "uint:2";
        QTest::newRow("len list") << "len(split('a b',' '))" << "uint:0";
        QTest::newRow("section one field") << "section('a/b/c','/',1,1)" << "QString:b";
        QTest::newRow("section last") << "section('a/b/c','/',-1)" << "QString:c";
        QTest::newRow("section to one before last") << "section('a/b/c','/',0,-2)" << "QString:a/b";
        QTest::newRow("section pattern") << "section('a//b','/+',1)" << "QString:b";
        QTest::newRow("section keeps separators") << "section('a1b22c','[0-9]+',1,2)" << "QString:b22c";
        QTest::newRow("section no separator") << "section('abc','/',1)" << "QString:";
        QTest::newRow("section trailing separator") << "section('a/b/','/',1,2)" << "QString:b/";
        QTest::newRow("section beyond") << "section('a/b/c','/',5)" << "QString:";
        QTest::newRow("section before start") << "section('a/b/c','/',-10,0)" << "QString:a";
        QTest::newRow("section reversed") << "section('a/b/c','/',2,1)" << "QString:";
        QTest::newRow("safexml") << "safexml('<a & b>')" << "QString:&lt;a &amp; b&gt;";
        QTest::newRow("safexml quotes") << "safexml('\"it\\'s\"')" << "QString:&quot;it&apos;s&quot;";
        QTest::newRow("safexml latin-1 and euro")
            << QString::fromUtf8("safexml('é×€\u00a0¡ÿ~')") << QString::fromUtf8("QString:&eacute;&times;&euro;\u00a0&iexcl;&yuml;~");
        QTest::newRow("tr without owner") << "tr('Hello')" << "QString:Hello";

        // Lists of texts.
        QTest::newRow("split leaves out empty pieces") << "split('a,,b',',')" << "QStringList:[a,b]";
        QTest::newRow("split pattern") << "split('a b  c',' +')" << "QStringList:[a,b,c]";
        QTest::newRow("split empty") << "split('',',')" << "QStringList:[]";
        QTest::newRow("join without separator") << "join(split('a,b',','))" << "QString:ab";
        QTest::newRow("join of a text") << "join('abc','-')" << "QString:";
        QTest::newRow("join a list") << "join(makelist(1,'x'),'+')" << "QString:1+x";
        QTest::newRow("grep") << "grep(split('alpha beta gamma',' '),'^[ab]')" << "QStringList:[alpha,beta]";
        QTest::newRow("grep is case-sensitive") << "grep(split('Alpha beta',' '),'a$')" << "QStringList:[Alpha,beta]";
        QTest::newRow("gres") << "gres(split('a1 b2',' '),'[0-9]','#')" << "QStringList:[a#,b#]";
        QTest::newRow("list") << "list('x')" << "QVariantList:[]";

        // Values for the user interface.
        QTest::newRow("colour by components") << "color(255,0,0)" << "QColor:#ff0000";
        QTest::newRow("colour by name") << "color('red')" << "QColor:#ff0000";
        QTest::newRow("component out of range") << "color(256,0,0)" << "QColor:invalid";
        QTest::newRow("unknown name") << "color('nonsense')" << "QColor:invalid";
        QTest::newRow("point") << "point(1,2)" << "QPoint:1,2";
        QTest::newRow("point of texts") << "point('x',2.7)" << "QPoint:0,2";
        QTest::newRow("size") << "size(3,'4')" << "QSize:3x4";
        const QFont standard;
        const QString family = standard.family();
        QTest::newRow("font of the default family") << "font('default',12)" << QStringLiteral("QFont:%1/12/%2/false").arg(family).arg(int(standard.weight()));
        QTest::newRow("font weight and italic") << "font('Serif',10,75,'true')" << "QFont:Serif/10/700/true";
        QTest::newRow("font size 0 is the default size") << "font('Serif',0,25,0)" << QStringLiteral("QFont:Serif/%1/300/false").arg(standard.pointSize());
        QTest::newRow("font of an empty family") << "font()" << QStringLiteral("QFont:/%1/%2/false").arg(standard.pointSize()).arg(int(standard.weight()));
        QImage image(2, 3, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(m_dir.filePath(QStringLiteral("p.png"))));
        QTest::newRow("pixmap") << "pixmap('" + m_dir.filePath("p.png") + "')" << "QPixmap:2x3";
        QTest::newRow("pixmap of no file") << "pixmap('" + m_dir.filePath("none.png") + "')" << "QPixmap:null";

        // Lists of values.
        QTest::newRow("count") << "count(split('a b c',' '))" << "qulonglong:3";
        QTest::newRow("count equal across types") << "count(makelist(1,'1',2),1)" << "int:2";
        QTest::newRow("count of a text") << "count('abc')" << "qulonglong:0";
        QTest::newRow("element") << "element(split('a b c',' '),1)" << "QString:b";
        QTest::newRow("element at count") << "element(split('a b c',' '),3)" << "invalid";
        QTest::newRow("element below 0") << "element(split('a b',' '),-1)" << "invalid";
        QTest::newRow("find") << "find(split('alpha beta',' '),'^b')" << "QString:beta";
        QTest::newRow("find none") << "find(split('alpha',' '),'x')" << "invalid";
        QTest::newRow("find keeps the type") << "find(makelist(1,22),'2')" << "qlonglong:22";
        QTest::newRow("makelist") << "makelist(1,'a')" << "QVariantList:[qlonglong:1,QString:a]";
        QTest::newRow("append") << "append(makelist(1),2)" << "QVariantList:[qlonglong:1,qlonglong:2]";
        QTest::newRow("append skips objects") << "append(split('a',' '),'b',$o)" << "QVariantList:[QString:a,QString:b]";
        QTest::newRow("remove") << "remove(split('a1 b2 a3',' '),'^a')" << "QStringList:[b2]";
        QTest::newRow("merge") << "merge(split('a',' '),split('b',' '))" << "QVariantList:[QString:a,QString:b]";
        QTest::newRow("merge with text") << "merge($s,split('b',' '))" << "QVariantList:[QString:b]";
        QTest::newRow("merge invalid") << "merge(divide(1,0),split('b',' '))" << "invalid";

        // Objects as lists of their properties.
        QTest::newRow("count objects") << "count($o)" << "int:2";
        QTest::newRow("count matching") << "count($o,'^c')" << "int:1";
        QTest::newRow("element of list") << "element($list,2)" << "object:item10{v=10}";
        QTest::newRow("element beyond") << "element($list,3)" << "null";
        QTest::newRow("find name") << "find($o,'^d')" << "QString:d";
        QTest::newRow("find no name") << "find($o,'x')" << "invalid";
        QTest::newRow("objectlist") << "objectlist(1)" << "object:{}";
        QTest::newRow("makelist of objects") << "makelist(1,$o)" << "object:{o=" + O + "}";
        QTest::newRow("append object") << "append(objectlist(1),$o)" << "object:{o=" + O + "}";
        QTest::newRow("append changes") << "append($o,$other)" << "object:o{a=1,b=x,c=object:c{z=9},d=object:d{},other=object:other{c=object:c2{},e=object:e{}}}";
        QTest::newRow("remove properties") << "remove($o,'^[ab]$')" << "object:o{c=object:c{z=9},d=object:d{}}";
        QTest::newRow("merge unknown names") << "merge($o,$other)" << "object:o{a=1,b=x,c=object:c{z=9},d=object:d{},e=object:e{}}";
        QTest::newRow("merge with no object") << "merge($o,'x')" << O;
        QTest::newRow("property value") << "property($o,'a')" << "int:1";
        QTest::newRow("property object") << "property($o,'c')" << "object:c{z=9}";
        QTest::newRow("property missing") << "property($o,'missing')" << "invalid";
        QTest::newRow("property of no object") << "property('x','a')" << "invalid";
        QTest::newRow("setproperty value") << "setproperty($o,'a',5)" << "object:o{a=5,b=x,c=object:c{z=9},d=object:d{}}";
        QTest::newRow("setproperty object") << "setproperty($o,'e',$list)" << "object:o{a=1,b=x,c=object:c{z=9},d=object:d{},e=" + List + "}";
        QTest::newRow("setproperty of no object") << "setproperty('x','a',1)" << "null";
        QTest::newRow("propertylist") << "propertylist($o)" << "QStringList:[objectName,a,b,c,d]";
        QTest::newRow("propertylist of no object") << "propertylist('x')" << "QStringList:[]";
        QTest::newRow("names in natural order") << "propertylist($list)" << "QStringList:[objectName,item1,item2,item10]";
        // A later parameter deletes the object that an earlier one gave: the function notices.
        QTest::newRow("append deleted while in use") << "append(property($o,'c'),setproperty($o,'c','v'))" << "null";
        QTest::newRow("merge deleted while in use") << "merge(property($o,'c'),setproperty($o,'c','v'))" << "null";
        QTest::newRow("setproperty deleted while in use") << "setproperty(property($o,'c'),'k',setproperty($o,'c','v'))" << "null";
        QTest::newRow("makelist deleted while in use") << "makelist(property($o,'c'),setproperty($o,'c','v'))"
                                                       << "object:{c=object:c{z=9},o=object:o{a=1,b=x,c=v,d=object:d{}}}";

        // Objects found in the document.
        const QString firstItem = QStringLiteral("node:/config/group/item#a");
        QTest::newRow("findnodes") << "findnodes($doc,'//item')" << "object:nodeList{node0=" + firstItem
                                          + ",node1=node:/config/group/item#b,node2=node:/config/item#c}";
        QTest::newRow("findfirstnode") << "findfirstnode($doc,'//item')" << firstItem;
        QTest::newRow("nested list") << "findnodes(findnodes($doc,'group'),'item')" << "object:nodeList{node0=" + firstItem + ",node1=node:/config/group/item#b}";
        QTest::newRow("count of a list") << "count(findnodes($doc,'//item'))" << "int:3";
        QTest::newRow("element of a list") << "element(findnodes($doc,'//item'),1)" << "node:/config/group/item#b";
        QTest::newRow("property of a found node") << "property(findfirstnode($doc,'//name'),'text')" << "QString:x";
        QTest::newRow("object property of a list") << "property(findnodes($doc,'//item'),'node2')" << "node:/config/item#c";
        QTest::newRow("remove from a list") << "remove(findnodes($doc,'//item'),'node[01]')" << "object:nodeList{node2=node:/config/item#c}";
        QTest::newRow("makelist of found nodes") << "makelist(findfirstnode($doc,'item'),$o)" << "object:{item=node:/config/item#c,o=" + O + "}";
        QTest::newRow("append found node") << "append(objectlist(1),findfirstnode($doc,'item'))" << "object:{item=node:/config/item#c}";
        QTest::newRow("merge of lists") << "merge(findnodes($doc,'item'),findnodes($doc,'//item'))"
                                        << "object:nodeList{node0=node:/config/item#c,node1=node:/config/group/item#b,"
                                           "node2=node:/config/item#c}";
        QTest::newRow("setproperty with a found node") << "setproperty(findfirstnode($doc,'item'),'n',findfirstnode($doc,'//name'))" << "node:/config/item#c";
        QTest::newRow("edit a found node") << "setattribute(findfirstnode($doc,'item'),'k','v')" << "node:/config/item#c";
        QTest::newRow("xmltostring of a found node") << "len(xmltostring(findfirstnode($doc,'item')))" << "uint:125";
        QTest::newRow("value function of a list") << "find(findnodes($doc,'//item'),'2$')" << "QString:node2";
        QTest::newRow("no node found") << "setattribute(findfirstnode($doc,'none'),'k','v')" << "null";
        QTest::newRow("not a node") << "appendchild(remove($o,'x'),'y')" << "null";
        QTest::newRow("kept list") << "makelist($o,$list)" << "object:{list=" + List + ",o=" + O + "}";
        QTest::newRow("variable") << "$o" << O;
    }

    void values()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        // A function changes an object given as its first parameter in place ($o then holds
        // the result); the rows that delete $o's c change it.
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const CPropertyObject* o = m_source->objectProperty(QStringLiteral("o"));
        if (QStringList{"append changes", "merge unknown names", "setproperty value", "setproperty object"}.contains(tag)) {
            QCOMPARE(evaluate(text, m_source.get()), expected);
            QCOMPARE(describeObject(o), expected);
            return;
        }
        if (tag.endsWith(QLatin1String("deleted while in use"))) {
            QCOMPARE(evaluate(text, m_source.get()), expected);
            QCOMPARE(describeObject(o), QStringLiteral("object:o{a=1,b=x,c=v,d=object:d{}}"));
            return;
        }
        // Every other row is evaluated again and again, the object taken every other time and
        // kept until the end: each result outlives the next evaluations, and the source stays.
        CPropertyMap map(nullptr, QStringLiteral("out"), text);
        QVERIFY2(map.isValid(), qPrintable(map.errors()));
        std::vector<std::unique_ptr<CPropertyObject>> taken;
        for (int round = 0; round < 6; ++round) {
            exprtesting::fillVariables(map, m_source.get());
            const bool ok = map.evaluate();
            const bool take = ok && map.resultIsObject() && round % 2 == 0;
            if (take)
                taken.emplace_back(map.takeTargetObject());
            const QString got = !ok                     ? QStringLiteral("unset")
                                : !map.resultIsObject() ? exprtesting::describeValue(map.target().value())
                                : take                  ? describeObject(taken.back().get())
                                                        : describeObject(map.target().object());
            QCOMPARE(got, expected);
        }
        for (const std::unique_ptr<CPropertyObject>& object : taken)
            QCOMPARE(describeObject(object.get()), expected);
        QCOMPARE(describeObject(m_source.get()), describeObject(makeSource().get()));
    }

    void numericKindPerEvaluation()
    {
        // The result type of an evaluation depends on that evaluation's values only.
        CPropertyMap map(nullptr, QStringLiteral("out"), QStringLiteral("add($a,$b)"));
        CPropertyObject source;
        const auto* add = dynamic_cast<const CFunctionAdd*>(map.root());
        QVERIFY(add);
        const struct { QVariant a, b; const char* expected; QMetaType::Type kind; } rounds[] = {
            { QStringLiteral("1.5"), qlonglong(1), "double:2.5", QMetaType::Double },
            { qlonglong(1), qlonglong(2), "qlonglong:3", QMetaType::LongLong },
            { uint(1), uint(2), "int:0", QMetaType::UnknownType },
            { QStringLiteral("x"), 2.0, "double:2", QMetaType::Double },
            { qlonglong(4), QStringLiteral("5"), "qlonglong:9", QMetaType::LongLong },
        };
        for (const auto& round : rounds) {
            source.setProperty("a", round.a);
            source.setProperty("b", round.b);
            QCOMPARE(exprtesting::evaluateOnce(map, &source), QString::fromLatin1(round.expected));
            QCOMPARE(add->numericKind(), round.kind);
        }
    }

    void divisionByZeroTraces()
    {
        TraceCapture capture;
        QCOMPARE(evaluate(QStringLiteral("divide(1,0)")), QStringLiteral("invalid"));
        QCOMPARE(evaluate(QStringLiteral("divide(1,2)")), QStringLiteral("double:0.5"));
        QCOMPARE(QString::fromStdString(capture.text), QStringLiteral("[propertymapfunctions] ! Division by zero !\n"));
    }

    void safexmlLatin1Table()
    {
        // One entity per character from U+00A1 to U+00FF, all different; U+00A0 and below stay.
        static const QRegularExpression entity(QStringLiteral("^&[A-Za-z][A-Za-z0-9]*;$"));
        QSet<QString> names;
        for (char16_t code = 0xA1; code <= 0xFF; ++code) {
            CPropertyMap map(nullptr, QStringLiteral("out"), QStringLiteral("safexml('") + QChar(code) + QStringLiteral("')"));
            QVERIFY(map.evaluate());
            const QString escaped = map.target().value().toString();
            QVERIFY2(entity.match(escaped).hasMatch(), qPrintable(escaped));
            names.insert(escaped);
        }
        QCOMPARE(names.size(), 95);
        QCOMPARE(evaluate(QStringLiteral("safexml('\u00a0\u009f')")), QStringLiteral("QString:\u00a0\u009f"));
        QCOMPARE(evaluate(QStringLiteral("safexml('\u00bd\u00c6\u00de')")), QStringLiteral("QString:&frac12;&AElig;&THORN;"));
    }

    void translateThroughOwner()
    {
        TranslatingState state;
        QCOMPARE(evaluate(QStringLiteral("tr('Hello')"), nullptr, &state), QStringLiteral("QString:T:Hello"));
        QCOMPARE(evaluate(QStringLiteral("concat(tr('a'),tr(len('xy')))"), nullptr, &state), QStringLiteral("QString:T:aT:2"));
        QCOMPARE(state.lastContext, state.stateName());
        QObject notAState;
        QCOMPARE(evaluate(QStringLiteral("tr('Gr\u00fc\u00dfe')"), nullptr, &notAState), QStringLiteral("QString:Gr\u00fc\u00dfe"));
    }

    void naturalOrder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("numbers") << QStringList{ "node10", "node2", "node1", "node0" } << QStringList{ "node0", "node1", "node2", "node10" };
        QTest::newRow("mixed") << QStringList{ "b", "a10b", "a2c", "a2b", "a" } << QStringList{ "a", "a2b", "a2c", "a10b", "b" };
        QTest::newRow("leading zeros") << QStringList{ "x010", "x10", "x9" } << QStringList{ "x9", "x10", "x010" };
        QTest::newRow("long runs") << QStringList{ "n123456789012345678901", "n99" } << QStringList{ "n99", "n123456789012345678901" };
    }

    void naturalOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, sorted);
        CPropertyObject list;
        for (const QString& name : names)
            list.setObjectProperty(name, new CPropertyObject);
        QCOMPARE(winsteps::valueconversion::objectPropertyNames(&list), sorted);
    }

    void transitionStoresOwnObjects()
    {
        auto fsm = std::make_unique<CFsm>();
        new TestState(fsm.get(), "from", QDomNode());
        new TestState(fsm.get(), "to", QDomNode());
        QString error;
        fsm->adoptObjectProperty(QStringLiteral("doc"), CXPathNode::parseDocument(Document, QStringLiteral("doc"), &error));
        fsm->setObjectProperty(QStringLiteral("o"), child("o", { { "a", 1 } }));
        fsm->appProperties.setObjectProperty(QStringLiteral("o"), child("appo"));

        CTransition t(fsm.get(), "t", QStringLiteral("from"), QStringLiteral("to"), QDomNode());
        QVERIFY(t.addPropertyMap(QStringLiteral("fsm.found"), QStringLiteral("findnodes($fsm.doc,'//item')")));
        QVERIFY(t.addPropertyMap(QStringLiteral("fsm.kept"), QStringLiteral("makelist($fsm.o)")));
        QVERIFY(t.addPropertyMap(QStringLiteral("fsm.same"), QStringLiteral("$fsm.o")));
        QVERIFY(t.addPropertyMap(QStringLiteral("fsm.objectName"), QStringLiteral("findfirstnode($fsm.doc,'item')")));
        QVERIFY(t.addPropertyMap(QStringLiteral("fsm.copy"), QStringLiteral("$app.o")));

        TraceCapture capture;
        const CPropertyObject* const o = fsm->objectProperty(QStringLiteral("o"));
        QPointer<CPropertyObject> found;
        QPointer<CPropertyObject> kept;
        for (int round = 0; round < 3; ++round) {
            t.applyPropertyMaps();
            // The earlier objects were replaced, and so deleted by their receiver.
            QVERIFY(found.isNull() && kept.isNull());
            found = fsm->objectProperty(QStringLiteral("found"));
            kept = fsm->objectProperty(QStringLiteral("kept"));
            QCOMPARE(describeObject(found), QStringLiteral("object:nodeList{node0=node:/config/group/item#a,"
                                                           "node1=node:/config/group/item#b,node2=node:/config/item#c}"));
            // A copy of the object read, its source left as it was.
            QVERIFY(fsm->objectProperty(QStringLiteral("same")) != o);
            QCOMPARE(describeObject(fsm->objectProperty(QStringLiteral("same"))), QStringLiteral("object:o{a=1}"));
            QCOMPARE(fsm->objectProperty(QStringLiteral("o")), o);
            // The map's own list goes at its next evaluation; the stored copy stays.
            t.propertyMaps().at(1)->evaluate();
            QCOMPARE(describeObject(kept), QStringLiteral("object:{o=object:o{a=1}}"));
            QCOMPARE(fsm->objectName(), QStringLiteral("fsm"));
            QCOMPARE(fsm->objectProperty(QStringLiteral("copy"))->objectName(), QStringLiteral("appo"));
        }
        QVERIFY(capture.lines().contains(QStringLiteral("|   object name = appo"))); // the object read
        QVERIFY(capture.lines().contains(QStringLiteral("|_Set object property \"found\" object name = nodeList")));
        // The object a variable read goes; without application properties the variable is not
        // set at the next application, rather than pointing at the deleted object.
        fsm->appProperties.removeProperty(QStringLiteral("o"));
        fsm->withApplication = false;
        t.applyPropertyMaps();
        QVERIFY(capture.lines().contains(QStringLiteral("|_Property \"copy\" will not be set.")));
    }

    // The functions in the registry's order, each with the numbers of parameters it accepts (of
    // 0 to 6; any other gives the count error; "f()" is one empty parameter, none is only built
    // directly), the rule as the listing shows it, and a description; found by exact name only.
    void parameterCounts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("accepted");
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("base"); // the class the function derives from
        const char* const more2 = "2 or more";
        const struct
        {
            const char* name;
            const char* accepted;
            const char* rule;
        } table[] = {
            {"add", "2 3 4 5 6", more2}, {"multiply", "2 3 4 5 6", more2}, {"divide", "2", "exactly 2"},
            {"negate", "1", "exactly 1"}, {"concat", "2 3 4 5 6", more2}, {"uppercase", "1", "exactly 1"},
            {"lowercase", "1", "exactly 1"}, {"replace", "3", "exactly 3"}, {"substr", "2 3", "2 or 3"},
            {"pos", "2 3", "2 or 3"}, {"len", "1", "exactly 1"}, {"section", "3 4", "3 or 4"},
            {"safexml", "1", "exactly 1"}, {"tr", "1", "exactly 1"}, {"split", "2", "exactly 2"},
            {"join", "1 2", "1 or 2"}, {"grep", "2", "exactly 2"}, {"gres", "3", "exactly 3"},
            {"list", "1", "exactly 1"}, {"color", "1 3", "1 or 3"}, {"pixmap", "1", "exactly 1"},
            {"font", "0 1 2 3 4", "4 or fewer"}, {"point", "2", "exactly 2"}, {"size", "2", "exactly 2"},
            {"count", "1 2", "1 or 2"}, {"element", "2", "exactly 2"}, {"find", "2", "exactly 2"},
            {"objectlist", "1", "exactly 1"}, {"makelist", "1 2 3 4 5 6", "1 or more"},
            {"append", "2 3 4 5 6", more2}, {"remove", "2", "exactly 2"}, {"merge", "2", "exactly 2"},
            {"property", "2", "exactly 2"}, {"setproperty", "3", "exactly 3"}, {"propertylist", "1", "exactly 1"},
            {"findfirstnode", "2", "exactly 2"}, {"findnodes", "2", "exactly 2"}, {"setattribute", "3", "exactly 3"},
            {"appendchild", "2", "exactly 2"}, {"removechild", "2", "exactly 2"}, {"insertbefore", "3", "exactly 3"},
            {"insertafter", "3", "exactly 3"}, {"xmltostring", "1", "exactly 1"},
        };
        QStringList names; // in the registry's order
        for (const CFunctionEntry& entry : winsteps::functionRegistry::entries())
            names << QString::fromLatin1(entry.name);
        QCOMPARE(names.size(), 43);
        for (const auto& row : table) {
            const int index = int(&row - table);
            QCOMPARE(QString::fromLatin1(row.name), names.value(index));
            // The value functions come first, then the list and object functions, then the XML ones.
            const char* base = index < 24 ? "noObject" : index < 35 ? "func" : "xml";
            QTest::newRow(row.name) << QString::fromLatin1(row.name) << QString::fromLatin1(row.accepted)
                                    << QString::fromLatin1(row.rule) << QString::fromLatin1(base);
        }
    }

    void parameterCounts()
    {
        QFETCH(QString, name);
        QFETCH(QString, accepted);
        QFETCH(QString, rule);
        QFETCH(QString, base);
        const CFunctionEntry* entry = winsteps::functionRegistry::find(name);
        QVERIFY(entry && entry->description && *entry->description);
        QCOMPARE(entry->parameterCount.text(), rule);
        for (const QString& wrong : QStringList{name.toUpper(), name.left(1).toUpper() + name.mid(1), name + ' ', ' ' + name})
            QVERIFY2(!winsteps::functionRegistry::find(wrong) && !winsteps::functionRegistry::create(wrong, {}, nullptr), qPrintable(wrong));
        QVERIFY(!winsteps::functionRegistry::find(QString()));

        const QString countError = QStringLiteral("'%1' function has invalid number of parameters.\n").arg(name);
        const QStringList counts = accepted.split(QLatin1Char(' '));
        std::unique_ptr<CFuncExpression> none(winsteps::functionRegistry::create(name, {}, nullptr));
        QCOMPARE(none->parameterCount(), 0);
        QCOMPARE(none->errors(), counts.contains(QStringLiteral("0")) ? QString() : countError);
        QCOMPARE(dynamic_cast<CFunctionNoObjectParameters*>(none.get()) != nullptr, base == "noObject");
        QCOMPARE(dynamic_cast<CXmlFunction*>(none.get()) != nullptr, base == "xml");
        if (auto add = dynamic_cast<CFunctionAdd*>(none.get()))
            QCOMPARE(add->numericKind(), QMetaType::UnknownType);
        QCOMPARE(dynamic_cast<CFunctionAdd*>(none.get()) != nullptr, name == "add" || name == "multiply");
        for (int n = 1; n <= 6; ++n) {
            const QString text = name + QLatin1Char('(') + QStringList(n, QStringLiteral("'1'")).join(QLatin1Char(',')) + QLatin1Char(')');
            const CPropertyMap map(nullptr, QStringLiteral("out"), text);
            const QString expected = counts.contains(QString::number(n)) ? QString() : countError;
            QVERIFY2(map.errors() == expected, qPrintable(text + QLatin1String(": ") + map.errors()));
        }
    }
};

QTEST_MAIN(TstFunctions)
#include "tst_functions.moc"
