// The state machine layer on the minimal machine of support/testmachine.h: states (events,
// transitions, described properties, leaving), the factory, element paths of descriptions, and
// transitions with their property maps.

#include "expression/cpropertymap.h"
#include "objects/cdomnode.h"
#include "fsm/cstatefactory.h"
#include "fsm/ctransition.h"
#include "platform/emulated/machinefolder.h"
#include "support/testmachine.h"

#include <QDomDocument>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

QDomDocument parse(const QString& xml)
{
    QDomDocument doc;
    const bool ok = static_cast<bool>(doc.setContent(xml));
    Q_ASSERT(ok);
    return doc;
}

int createdBy = 0;
template <int Tag>
CState* taggedCreator(QObject* parent, const char* name, const QString& type, CStateFactory* f,
                      const QDomNode& d)
{
    createdBy = Tag;
    return CStateFactory::creator<TestState>(parent, name, type, f, d);
}

} // namespace

// Every test has a machine "fsm" with the states "from" and "to".
class TstFsm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        fsm = std::make_unique<CFsm>();
        from = new TestState(fsm.get(), "from", QDomNode());
        to = new TestState(fsm.get(), "to", QDomNode());
    }

    // Alternatives joined by "|", as hasEvent() reads them and as transitions are registered
    // and looked up under them: empty parts are dropped.
    void eventAlternatives_data()
    {
        QTest::addColumn<QString>("names");
        QTest::addColumn<bool>("isEvent");        // hasEvent(names) of a state with "success", "failed"
        QTest::addColumn<QString>("registered");  // keys after addTransition(t, names)
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("hasTransition");  // hasTransition(query)
        QTest::newRow("event") << "success" << true << "success" << "success" << true;
        QTest::newRow("pageBack") << "pageBack" << true << "pageBack" << "x|pageBack" << true;
        QTest::newRow("unknown") << "installed" << false << "installed" << "other" << false;
        QTest::newRow("case matters") << "Success" << false << "Success" << "success" << false;
        QTest::newRow("all known") << "success|pageBack" << true << "pageBack success" << "nothing|success" << true;
        QTest::newRow("one unknown") << "success|installed" << false << "installed success" << "x|y" << false;
        QTest::newRow("trailing bar") << "success|" << true << "success" << "|" << false;
        QTest::newRow("empty parts") << "success||failed|" << true << "failed success" << "other|" << false;
    }

    void eventAlternatives()
    {
        QFETCH(QString, names);
        QFETCH(bool, isEvent);
        QFETCH(QString, registered);
        QFETCH(QString, query);
        QFETCH(bool, hasTransition);
        QCOMPARE(from->hasEvent(names), isEvent);
        from->addTransition(transition("t"), names);
        QCOMPARE(from->transitions().keys().join(QLatin1Char(' ')), registered);
        QCOMPARE(from->hasTransition(query), hasTransition);
        QVERIFY(!from->transition(QString())); // a state that leaves without an event takes none
    }

    void pageBackTransitionIsNewEachTime()
    {
        QPointer<CTransition> a = from->transition(QStringLiteral("pageBack"));
        CTransition* b = from->transition(QStringLiteral("pageBack"));
        QVERIFY(a && b && a != b);
        QVERIFY(qobject_cast<CBackTransition*>(a));
        QVERIFY(from->transitions().isEmpty());
        QVERIFY(from->hasTransition(QStringLiteral("pageBack")));
        QVERIFY(!from->transition(QStringLiteral("success")));
        a->fire(); // goes back and deletes itself
        QVERIFY(a.isNull());
        QCOMPARE(fsm->moves, QStringList(QStringLiteral("<back>")));
        delete b;
    }

    // A transition under several names is deleted once: when its last name is removed, or by reset.
    void sharedTransitionDeletedOnce()
    {
        QPointer<CTransition> t = transition("t");
        from->addTransition(t, QStringLiteral("success|failed"));
        QCOMPARE(from->transition(QStringLiteral("failed")), t.data());
        QVERIFY(from->removeTransition(QStringLiteral("success")));
        QVERIFY(!t.isNull()); // still registered under "failed"
        QVERIFY(from->removeTransition(QStringLiteral("failed")));
        QVERIFY(t.isNull());
        QVERIFY(!from->removeTransition(QStringLiteral("failed")));

        t = transition("u");
        from->addTransition(t, QStringLiteral("success|failed"));
        from->reset(); // a double delete would crash here
        QVERIFY(t.isNull());
        QVERIFY(from->transitions().isEmpty());
        QVERIFY(from->events().isEmpty());
    }

    // What a description declares on which system: properties (on the running system only,
    // nested one level below <system> at most), required keys and the weight.
    void describedState_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("xml");
        QTest::addColumn<bool>("named");
        QTest::addColumn<QString>("expected"); // key=value pairs | required: keys | weight | messages

        const QString systems = QStringLiteral(
            "<state weight='3'>"
            "  <property key='base' value='1' required='YES'/>"
            "  <system type='winxp+'><property key='xp' value='yes' required='yes'/></system>"
            "  <system type='WIN9X'><property key='nine' value='yes'/></system>"
            "  <system type='wow64'><property key='wow' value='yes'/></system>"
            "  <system type='common'><property key='common' value='c'/>"
            "    <group><property key='deeper' value='no'/></group></system>"
            "  <other><property key='nested' value='no'/></other>"
            "</state>");
        const QString xp = QStringLiteral("winxp-sp2");
        QTest::newRow("xp") << xp << systems << true << "base=1 common=c xp=yes | required: base xp | 3 | ";
        QTest::newRow("98") << "win98" << systems << true << "base=1 common=c nine=yes | required: base | 3 | ";
        QTest::newRow("vista-x64") << "vista-x64" << systems << true << "base=1 common=c wow=yes xp=yes | required: base xp | 3 | ";
        QTest::newRow("2000") << "win2000" << systems << true << "base=1 common=c | required: base | 3 | ";
        QTest::newRow("negative weight ignored") << xp << "<state weight='-5'/>" << true << "| required: | 0 | ";
        QTest::newRow("weight not a number") << xp << "<state weight='heavy'/>" << true << "| required: | 0 | ";
        QTest::newRow("no weight") << xp << "<state/>" << true << "| required: | 0 | ";
        QTest::newRow("unnamed state") << xp << "<state weight='2'><property key='a' value='1'/></state>" << false
                                       << "| required: | 0 | Unnamed state.\n";
    }

    void describedState()
    {
        QFETCH(QString, profile);
        QFETCH(QString, xml);
        QFETCH(bool, named);
        QFETCH(QString, expected);
        std::string error;
        QVERIFY2(winsteps::platform::emulated::openMachine(profile.toStdString(), std::string(), &error), error.c_str());
        const QDomDocument doc = parse(xml);
        TestState s(nullptr, named ? "s" : nullptr, doc.documentElement());
        QStringList got;
        for (const QString& key : s.dataFields().keys())
            got << key + QLatin1Char('=') + s.property(key).toString();
        got << QStringLiteral("| required:") << s.requiredProperties() << QStringLiteral("| %1 |").arg(s.weight()) << s.messages();
        QCOMPARE(got.join(QLatin1Char(' ')), expected);
    }

    // Leaving twice finishes twice, never from inside the call, each time with the transition
    // registered for the event.
    void leaveTwiceFinishesTwice()
    {
        TraceCapture capture;
        CTransition* t = transition("t");
        from->addTransition(t, QStringLiteral("failed"));
        QSignalSpy finished(from, &CState::finished);
        QSignalSpy progress(from, &CState::progress);
        from->setExitEvent(QStringLiteral("failed"));
        from->leaveState();
        from->leaveState();
        QCOMPARE(finished.count(), 0);
        QTRY_COMPARE(finished.count(), 2);
        QCOMPARE(finished.last().at(0).value<CState*>(), from);
        QCOMPARE(finished.last().at(1).value<CTransition*>(), t);
        QCOMPARE(progress.count(), 2);
        QCOMPARE(progress.first().first().toInt(), 100);
        QCOMPARE(from->progressPercent(), 100.0);
        QVERIFY(capture.all().contains(QStringLiteral("[state               ]--- State from: leave state with event = failed\n")));
        QCOMPARE(from->fullName(), QStringLiteral("fsm:from"));
        QCOMPARE(from->applicationProperties(), &fsm->appProperties);
    }

    // A factory creates its own types and asks its children, then its parents; the last
    // registration of a type wins.
    void factories()
    {
        auto* root = new CStateFactory(QStringLiteral("root"));
        auto* child = new CStateFactory(QStringLiteral("child"), root);
        auto* grandchild = new CStateFactory(QStringLiteral("grand"), child);
        root->addFactory(child);
        child->addFactory(grandchild);
        root->registerState(QStringLiteral("rootType"), &taggedCreator<1>);
        grandchild->registerState(QStringLiteral("deepType"), &taggedCreator<2>);
        grandchild->registerState(QStringLiteral("deepType"), &taggedCreator<3>);
        child->registerState(QStringLiteral("setupFSM"), &taggedCreator<2>);
        child->registerState(QStringLiteral("childType"), &taggedCreator<2>);

        createdBy = 0;
        CState* s = root->create(QStringLiteral("deepType"), QDomNode(), fsm.get(), QStringLiteral("d"));
        QVERIFY(s);
        QCOMPARE(createdBy, 3);
        QCOMPARE(s->type(), QStringLiteral("deepType"));
        QCOMPARE(s->objectName(), QStringLiteral("d"));
        QVERIFY(grandchild->create(QStringLiteral("rootType"), QDomNode(), fsm.get(), QStringLiteral("r")));
        QCOMPARE(createdBy, 1); // asked up the parent chain
        QVERIFY(!grandchild->create(QStringLiteral("nobody"), QDomNode(), fsm.get(), QStringLiteral("n")));

        QCOMPARE(root->factoryNames(), QStringList({"root", "child", "grand"}));
        QCOMPARE(root->stateTypes(QStringLiteral("child"), true, true), QStringList({"childType", "setupFSM"}));
        QVERIFY(root->stateTypes(QStringLiteral("grand"), true, true).isEmpty()); // direct children only
        QCOMPARE(child->typeNames(true, true), QStringList({"childType", "setupFSM"})); // sorted
        QCOMPARE(child->typeNames(true, false), QStringList({"childType"}));
        QCOMPARE(child->typeNames(false, true), QStringList({"setupFSM"}));
        QVERIFY(child->typeNames(false, false).isEmpty());
        QCOMPARE(root->findFactory(QStringLiteral("root")), root);
        QVERIFY(!root->findFactory(QString()) && !root->findFactory(QStringLiteral("other")));
        delete root; // deletes its children
    }

    // Paths over a small document; results as the list of their "id" attributes.
    void elementsByPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("start"); // id of the start element
        QTest::addColumn<QString>("expected");
        QTest::newRow("name, deep") << "property" << "s" << "p1 p2 p3";
        QTest::newRow("./ deep") << "./property" << "s" << "p1 p2 p3";
        QTest::newRow("/// flat") << "///property" << "s" << "p1 p3";
        QTest::newRow("// whole document") << "//property" << "s" << "p1 p2 p3 p4";
        QTest::newRow("/ flat from document") << "/root" << "s" << "root";
        QTest::newRow("../ from parent") << "../property" << "sys" << "p1 p2 p3";
        QTest::newRow("steps") << "system/property" << "s" << "p2";
        QTest::newRow("star step") << "*/property" << "root" << "p1 p2 p3"; // the first child element only
        QTest::newRow("two tests") << "property[@key='c'][@value='3']" << "s" << "p3";
        QTest::newRow("required attribute") << "@required" << "s" << "p1";
        QTest::newRow("missing step") << "nothing/property" << "s" << "";
    }

    void elementsByPath()
    {
        QFETCH(QString, path);
        QFETCH(QString, start);
        QFETCH(QString, expected);
        const QDomDocument doc = parse(QStringLiteral(
            "<root id='root'>"
            "<state id='s'>"
            "  <property id='p1' key='a' value='1' required='yes'/>"
            "  <system id='sys' type='common'><property id='p2' key='b' value='2'/></system>"
            "  <property id='p3' key='c' value='3'/>"
            "</state>"
            "<other id='o'><property id='p4' key='d'/></other>"
            "</root>"));
        const QList<CDomNode> all = CDomNode(doc).elementsByPath(QStringLiteral("//*"));
        CDomNode from;
        for (const CDomNode& n : all) {
            if (n.toElement().attribute(QStringLiteral("id")) == start)
                from = n;
        }
        QVERIFY(!from.isNull());
        QStringList ids;
        for (const CDomNode& n : from.elementsByPath(path))
            ids << n.toElement().attribute(QStringLiteral("id"));
        QCOMPARE(ids.join(QLatin1Char(' ')), expected);
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
        const QDomDocument doc = parse(QStringLiteral(
            "<transition><propertymap target='a' function='add(1)'/><propertymap target='b' function='$x'/></transition>"));
        TraceCapture capture;
        CTransition t(fsm.get(), "t", QStringLiteral("from"), QStringLiteral("to"), doc.documentElement());
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

    // A transition keeps finding its states by name when they are replaced by new ones.
    void replacedStatesAreFound()
    {
        TraceCapture silence;
        from->setProperty("v", QStringLiteral("one"));
        CTransition t(fsm.get(), "t", QStringLiteral("from"), QStringLiteral("to"), QDomNode());
        QVERIFY(t.addPropertyMap(QStringLiteral("copy"), QStringLiteral("$v")));
        t.fire();
        QCOMPARE(to->property("copy").toString(), QStringLiteral("one"));
        delete from;
        delete to;
        from = new TestState(fsm.get(), "from", QDomNode());
        to = new TestState(fsm.get(), "to", QDomNode());
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
    // A transition from "from" to "to", owned by the machine.
    CTransition* transition(const char* name)
    {
        return new CTransition(fsm.get(), name, QStringLiteral("from"), QStringLiteral("to"), QDomNode());
    }

    std::unique_ptr<CFsm> fsm;
    TestState* from = nullptr;
    TestState* to = nullptr;
};

QTEST_GUILESS_MAIN(TstFsm)
#include "tst_fsm.moc"
