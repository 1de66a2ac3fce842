#include "expression/cpropertymap.h"
#include "fsm/ctransition.h"
#include "support/testmachine.h"

#include <QDomDocument>
#include <QPointer>
#include <QTest>

namespace {

QDomElement transitionElement(QDomDocument& doc, const QString& maps)
{
    const bool ok = static_cast<bool>(doc.setContent(QStringLiteral("<transition>%1</transition>").arg(maps)));
    Q_ASSERT(ok);
    return doc.documentElement();
}

} // namespace

class TstTransition : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        fsm = std::make_unique<CFsm>();
        from = new TestState(fsm.get(), "from", QDomNode());
        to = new TestState(fsm.get(), "to", QDomNode());
    }

    // One map per row: the trace lines written for it (after the leading empty line).
    void applyTraces_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("function");
        QTest::addColumn<QStringList>("lines");

        // A map reading property from where: what the read found, and what was set.
        const auto row = [](const char* name, const QString& target, const QString& property, const QString& where,
                            const QString& found, const QString& set) {
            QTest::newRow(name) << target << "$" + (where == "FSM" ? "fsm." : where == "application" ? "app." : QString()) + property
                                << QStringList{"|\u00afpropertymap",
                                               "| - get value from property \"" + property + "\" from " + where + ".",
                                               "|   " + found, "|_Set property \"" + target.mid(target.indexOf('.') + 1) + "\" " + set};
        };
        const QString from = QStringLiteral("state \"from\"");
        const QString longValue = "value as string = " + QString(200, 'y') + "...";
        row("state value", "copy", "version", from, "value as string = 1.2", "value as string = 1.2");
        row("machine value", "fsm.out", "product", "FSM", "value as string = Demo", "value as string = Demo");
        row("application value", "app.out", "lang", "application", "value as string = en", "value as string = en");
        row("missing property", "x", "nothing", from, "! Warning ! Property not found", "empty string or list");
        row("long value cut", "x", "long", from, longValue, longValue);
        row("empty list", "x", "empty", from, "empty string or list", "empty string or list");
        row("one text item", "x", "one", from, "list with 1 items", "list with 1 items");
        row("newlines removed", "x", "multi", from, "value as string = ab", "value as string = ab");
        QTest::newRow("constant") << "x" << "'text'" << QStringList{"|\u00afpropertymap", "|_Set property \"x\" value as string = text"};
    }

    void applyTraces()
    {
        QFETCH(QString, target);
        QFETCH(QString, function);
        QFETCH(QStringList, lines);
        fsm->setProperty("product", QStringLiteral("Demo"));
        fsm->appProperties.setProperty("lang", QStringLiteral("en"));
        from->setProperty("version", QStringLiteral("1.2"));
        from->setProperty("long", QString(250, 'y'));
        from->setProperty("empty", QStringList());
        from->setProperty("one", QStringList({"abc"}));
        from->setProperty("multi", QStringLiteral("a\nb"));

        CTransition t(fsm.get(), "t", QStringLiteral("from"), QStringLiteral("to"), QDomNode());
        QVERIFY(t.addPropertyMap(target, function));
        TraceCapture capture;
        t.applyPropertyMaps();
        QStringList got = capture.lines();
        QVERIFY(!got.isEmpty());
        QCOMPARE(got.takeFirst(), QString()); // the leading empty line
        QCOMPARE(got, lines);
    }

    // Targets by their prefix, each map seeing what the earlier ones set.
    void targetsByLocation()
    {
        fsm->setProperty("a", QStringLiteral("old"));
        CTransition t(fsm.get(), "t", QStringLiteral("from"), QStringLiteral("to"), QDomNode());
        QVERIFY(t.addPropertyMap(QStringLiteral("fsm.a"), QStringLiteral("'1'")));
        QVERIFY(t.addPropertyMap(QStringLiteral("seen"), QStringLiteral("$fsm.a")));
        QVERIFY(t.addPropertyMap(QStringLiteral("app.b"), QStringLiteral("'2'")));
        QVERIFY(t.addPropertyMap(QStringLiteral("other.c"), QStringLiteral("'3'")));
        QVERIFY(t.addPropertyMap(QStringLiteral("fsm."), QStringLiteral("'4'")));
        TraceCapture capture;
        t.applyPropertyMaps();
        QCOMPARE(fsm->property("a").toString(), QStringLiteral("1"));
        QCOMPARE(to->property("seen").toString(), QStringLiteral("1"));
        QCOMPARE(fsm->appProperties.property("b").toString(), QStringLiteral("2"));
        QCOMPARE(to->property("other.c").toString(), QStringLiteral("3"));
        QCOMPARE(to->property("fsm.").toString(), QStringLiteral("4")); // empty rest: a state name

        // Without application properties the variable warns and the target is not set.
        fsm->withApplication = false;
        CTransition u(fsm.get(), "u", QStringLiteral("nowhere"), QStringLiteral("to"), QDomNode());
        QVERIFY(u.addPropertyMap(QStringLiteral("x"), QStringLiteral("$app.lang")));
        QVERIFY(u.addPropertyMap(QStringLiteral("y"), QStringLiteral("$missingState")));
        TraceCapture capture2;
        u.applyPropertyMaps();
        const QStringList lines = capture2.lines();
        QVERIFY(lines.contains(QStringLiteral("| ! Warning ! No application properties available.")));
        QVERIFY(lines.contains(QStringLiteral("|_Property \"x\" will not be set.")));
        QVERIFY(lines.contains(QStringLiteral("| ! Warning ! No from-state.")));
        QVERIFY(lines.contains(QStringLiteral("|_Property \"y\" will not be set.")));
        QVERIFY(!to->hasProperty(QStringLiteral("x")));
    }

    void invalidMapKeptAndReported()
    {
        QDomDocument doc;
        const QDomElement e = transitionElement(
            doc, QStringLiteral("<propertymap target='a' function='add(1)'/><propertymap target='b' function='$x'/>"));
        TraceCapture capture;
        CTransition t(fsm.get(), "t", QStringLiteral("from"), QStringLiteral("to"), e);
        QCOMPARE(t.propertyMaps().size(), 2);
        QCOMPARE(t.errors(), QStringLiteral("'add' function has invalid number of parameters.\n"));
        // A one-line message is written as it is; several lines would each be indented.
        QCOMPARE(capture.lines(), QStringList({"  ! Error ! Invalid propertymap.",
                                               "'add' function has invalid number of parameters."}));

        // A map that does not parse at all is applied as "will not be set", never evaluated.
        CTransition u(fsm.get(), "u", QStringLiteral("from"), QStringLiteral("to"), QDomNode());
        QVERIFY(!u.addPropertyMap(QStringLiteral("z"), QStringLiteral("a,b")));
        TraceCapture capture2;
        u.applyPropertyMaps();
        QVERIFY(capture2.lines().contains(QStringLiteral("|_Property \"z\" will not be set.")));
        QVERIFY(!to->hasProperty(QStringLiteral("z")));
    }

    // A transition keeps finding its states by name when a state is replaced by a new one.
    void replacedStatesAreFound_data()
    {
        QTest::addColumn<bool>("replaceSource");
        QTest::addColumn<bool>("replaceTarget");
        QTest::newRow("same states") << false << false;
        QTest::newRow("source replaced") << true << false;
        QTest::newRow("target replaced") << false << true;
        QTest::newRow("both replaced") << true << true;
    }

    void replacedStatesAreFound()
    {
        QFETCH(bool, replaceSource);
        QFETCH(bool, replaceTarget);
        TraceCapture silence;
        from->setProperty("v", QStringLiteral("one"));
        CTransition t(fsm.get(), "t", QStringLiteral("from"), QStringLiteral("to"), QDomNode());
        QVERIFY(t.addPropertyMap(QStringLiteral("copy"), QStringLiteral("$v")));
        t.fire();
        QCOMPARE(to->property("copy").toString(), QStringLiteral("one"));
        if (replaceSource) {
            delete from;
            from = new TestState(fsm.get(), "from", QDomNode());
        }
        if (replaceTarget) {
            delete to;
            to = new TestState(fsm.get(), "to", QDomNode());
        }
        from->setProperty("v", QStringLiteral("two"));
        t.fire();
        QCOMPARE(to->property("copy").toString(), QStringLiteral("two"));
        QCOMPARE(fsm->moves, QStringList({"to", "to"}));
    }

    void checkPropertyMaps()
    {
        from->addResultProperty(QStringLiteral("value"));
        fsm->addRequiredProperty(QStringLiteral("product"));
        CTransition t(fsm.get(), "t", QStringLiteral("from"), QStringLiteral("to"), QDomNode());
        t.addPropertyMap(QStringLiteral("a"), QStringLiteral("$value"));       // result of source: mapped
        t.addPropertyMap(QStringLiteral("b"), QStringLiteral("$fsm.product")); // required of machine: mapped
        t.addPropertyMap(QStringLiteral("c"), QStringLiteral("$unknown"));     // not available
        t.addPropertyMap(QStringLiteral("fsm.d"), QStringLiteral("'k'"));      // machine target: result only
        t.addPropertyMap(QStringLiteral("e"), QStringLiteral("add(1)"));       // invalid: skipped
        t.checkPropertyMaps();
        QCOMPARE(to->mappedProperties(), QStringList({"a", "b"}));
        QCOMPARE(to->resultProperties(), QStringList({"a", "b"}));
        QCOMPARE(fsm->resultProperties(), QStringList({"d"}));
        QVERIFY(fsm->mappedProperties().isEmpty());
    }

private:
    std::unique_ptr<CFsm> fsm;
    TestState* from = nullptr;
    TestState* to = nullptr;
};

QTEST_GUILESS_MAIN(TstTransition)
#include "tst_transition.moc"
