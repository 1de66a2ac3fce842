#include "objects/cpropertyobject.h"
#include "objects/ctag.h"

#include <QPointer>
#include <QTest>

#include <memory>

// A property object with one declared property, to see the three kinds of names.
class Declared : public CPropertyObject
{
    Q_OBJECT
    Q_PROPERTY(int level READ level WRITE setLevel)
public:
    using CPropertyObject::CPropertyObject;
    int level() const { return m_level; }
    void setLevel(int level) { m_level = level; }

private:
    int m_level = 7;
};

class TstPropertyObject : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Each row: configuration string -> "name=value|..." with <null> for a null value and
    // a trailing * for a quoted value.
    void tags_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "a=1 b=two" << "a=1|b=two";
        QTest::newRow("quoted blank") << "name=\"John Smith\" x=y" << "name=John Smith*|x=y";
        QTest::newRow("bare then pair") << "flag other=1" << "flag=<null>|other=1";
        QTest::newRow("blanks around =") << "a = 1" << "a=1";
        QTest::newRow("tab does not end value") << "a=1\t2 b=3" << "a=1\t2|b=3";
        QTest::newRow("escaped quote kept") << "a=\"say \\\"hi\\\"\"" << "a=say \\\"hi\\\"*";
        QTest::newRow("unterminated quote") << "a=1 b=\"open c=2" << "a=1|b=<null>";
        QTest::newRow("empty quoted") << "a=\"\"" << "a=*";
        QTest::newRow("empty value") << "a= b=1" << "a=b=1";
        QTest::newRow("trailing blanks") << "a=1   " << "a=1";
        QTest::newRow("utf8 survives") << QString::fromUtf8("n=\"Größe €\"") << QString::fromUtf8("n=Größe €*");
        // The length limits of values are rows of the configuration-string table in the bad-input catalogue.
    }

    void tags()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        CTagToken tokens(input);
        QStringList got;
        while (tokens.hasMoreTags()) {
            CTag tag;
            tokens.nextTag(tag);
            got << tag.name + QLatin1Char('=') + (tag.value(false).isNull() ? QStringLiteral("<null>") : tag.value(false))
                       + (tag.quoted ? QStringLiteral("*") : QString());
        }
        QCOMPARE(got.join(QLatin1Char('|')), expected);
    }

    void translationMarker_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("withTranslation");
        QTest::newRow("number and comma") << "tr(12, Hello world )" << "Hello world" << 12 << "tr(12, Hello world)";
        QTest::newRow("no comma") << "tr( Hello )" << "Hello" << -1 << "tr(-1, Hello)";
        QTest::newRow("no digits") << "tr(x, Hi)" << "Hi" << 0 << "tr(0, Hi)";
        QTest::newRow("negative") << "tr(-3,Hi)" << "Hi" << -3 << "tr(-3, Hi)";
        QTest::newRow("plain") << "Hello" << "Hello" << -2 << "Hello";
        QTest::newRow("not closed") << "tr(1, x" << "tr(1, x" << -2 << "tr(1, x";
    }

    void translationMarker()
    {
        QFETCH(QString, text);
        QFETCH(QString, value);
        QFETCH(int, id);
        QFETCH(QString, withTranslation);
        CTag tag(QStringLiteral("t"));
        tag.setValue(text);
        QCOMPARE(tag.value(false), value);
        QCOMPARE(tag.translationId, id);
        QCOMPARE(tag.value(true), withTranslation);
    }

    // Later pairs are set even after one that does not convert to its declared type.
    void setConfig()
    {
        Declared o;
        QVERIFY(o.setConfig(QStringLiteral("plain=text quoted=\"two words\" bare level=42")));
        QCOMPARE(o.property("plain").toString(), QStringLiteral("text"));
        QCOMPARE(o.property("quoted").toString(), QStringLiteral("two words"));
        QVERIFY(o.hasProperty(QStringLiteral("bare")));
        QVERIFY(o.property("bare").toString().isNull());
        QCOMPARE(o.level(), 42);
        QVERIFY(!o.setConfig(QStringLiteral("level=notanumber other=2")));
        QCOMPARE(o.property("other").toString(), QStringLiteral("2"));
    }

    void kindsExcludeEachOther()
    {
        CPropertyObject o;
        auto* child = new CPropertyObject(nullptr, "child");
        QPointer<CPropertyObject> watch(child);
        QVERIFY(o.setObjectProperty(QStringLiteral("x"), child));
        QVERIFY(o.setProperty("x", 5)); // a data field over an object deletes the object
        QVERIFY(watch.isNull());
        QVERIFY(!o.hasObjectProperty(QStringLiteral("x")));

        QVERIFY(o.setObjectProperty(QStringLiteral("x"), new CPropertyObject));
        QVERIFY(!o.dataFields().contains(QStringLiteral("x"))); // and an object removes the field
        QVERIFY(!o.property("x").isValid());
        QVERIFY(o.exists(QStringLiteral("x")));

        // setConfig too keeps one kind per name.
        QVERIFY(o.setConfig(QStringLiteral("x=1")));
        QVERIFY(!o.hasObjectProperty(QStringLiteral("x")));

        // A null object is the integer 0.
        QVERIFY(o.setObjectProperty(QStringLiteral("n"), nullptr));
        QCOMPARE(o.property("n"), QVariant(int(0)));

        Declared d;
        // Declared names refuse objects and removal. An adopted object moves only when it is
        // accepted: a refused one stays the caller's, also when given as a derived type.
        auto refused = std::make_unique<Declared>();
        QVERIFY(!d.adoptObjectProperty(QStringLiteral("level"), std::move(refused)));
        QVERIFY(refused);
        auto accepted = std::make_unique<Declared>();
        const Declared* adopted = accepted.get();
        QVERIFY(d.adoptObjectProperty(QStringLiteral("child"), std::move(accepted)));
        QVERIFY(!accepted);
        QCOMPARE(d.objectProperty(QStringLiteral("child")), adopted);
        QVERIFY(!d.removeProperty(QStringLiteral("level")));
        QVERIFY(!d.removeProperty(QStringLiteral("objectName")));
        QCOMPARE(d.level(), 7);
        QVERIFY(d.removeProperty(QStringLiteral("nothing"))); // true even when nothing was there
    }

    // propertyNames() lists object properties in the order the list functions pick them; config()
    // lists no object, and a list (even of one text) has no text form.
    void namesAndConfigOrder()
    {
        Declared o(nullptr, "obj");
        o.setProperty("b", 2);
        o.setProperty("a", QStringLiteral("one"));
        o.setProperty("list", QStringList{QStringLiteral("abc")});
        o.setObjectProperty(QStringLiteral("node10"), new CPropertyObject);
        o.setObjectProperty(QStringLiteral("node2"), new CPropertyObject);
        QCOMPARE(o.propertyNames(), QStringList({"objectName", "level", "a", "b", "list", "node2", "node10"}));
        QCOMPARE(o.config(), QStringList({"objectName=obj", "level=7", "a=one", "b=2", "list="}));
    }

    // A clone is deep and has no parent; adding objects skips names already taken (the
    // skipped object stays the caller's).
    void cloneAndAdd()
    {
        CPropertyObject o(nullptr, "orig");
        o.setProperty("v", 1);
        auto* child = new CPropertyObject(nullptr, "c");
        child->setProperty("w", 2);
        o.setObjectProperty(QStringLiteral("child"), child);

        std::unique_ptr<CPropertyObject> copy(o.clone());
        QCOMPARE(copy->objectName(), QStringLiteral("orig"));
        QVERIFY(copy->parent() == nullptr);
        QCOMPARE(copy->property("v").toInt(), 1);
        QVERIFY(copy->objectProperty(QStringLiteral("child")) != child);
        QCOMPARE(copy->objectProperty(QStringLiteral("child"))->property("w").toInt(), 2);
        o.setProperty("v", 9); // shared fields are copy-on-write
        QCOMPARE(copy->property("v").toInt(), 1);

        auto* dup = new CPropertyObject(nullptr, "child");
        auto* fresh = new CPropertyObject(nullptr, "b");
        QVERIFY(o.addObjectProperties({dup, fresh}));
        QCOMPARE(o.objectProperty(QStringLiteral("b")), fresh);
        QCOMPARE(o.objectProperty(QStringLiteral("child")), child);
        delete dup;
    }

    // Only the names the class declares are meta-object properties; others are data fields.
    void declaredNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("declared");
        QTest::newRow("declared") << QStringLiteral("objectName") << true;
        QTest::newRow("prefix of declared") << QStringLiteral("objectNam") << false;
        QTest::newRow("declared plus more") << QStringLiteral("objectNames") << false;
        QTest::newRow("not ascii") << QStringLiteral("na\u00efve") << false;
        QTest::newRow("long name") << QString(200, QLatin1Char('n')) << false;
    }

    void declaredNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, declared);
        CPropertyObject object(nullptr, "o");
        QCOMPARE(object.isDeclaredProperty(name), declared);
        QVERIFY(object.setProperty(name, QStringLiteral("value")));
        QCOMPARE(object.property(name).toString(), QStringLiteral("value"));
        QCOMPARE(object.dataFields().contains(name), !declared);
        QVERIFY(!object.isDeclaredProperty(QString()));
    }
};

QTEST_GUILESS_MAIN(TstPropertyObject)
#include "tst_propertyobject.moc"
