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

class TstState : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
        CFsm fsm;
        TestState s(&fsm, "s", QDomNode());
        QCOMPARE(s.hasEvent(names), isEvent);
        s.addTransition(new CTransition(&fsm, "t", QStringLiteral("s"), QStringLiteral("x"), QDomNode()), names);
        QCOMPARE(s.transitions().keys().join(QLatin1Char(' ')), registered);
        QCOMPARE(s.hasTransition(query), hasTransition);
        QVERIFY(!s.transition(QString())); // a state that leaves without an event takes none
    }

    void pageBackTransitionIsNewEachTime()
    {
        CFsm fsm;
        auto* s = new TestState(&fsm, "s", QDomNode());
        QPointer<CTransition> a = s->transition(QStringLiteral("pageBack"));
        CTransition* b = s->transition(QStringLiteral("pageBack"));
        QVERIFY(a && b && a != b);
        QVERIFY(qobject_cast<CBackTransition*>(a));
        QVERIFY(s->transitions().isEmpty());
        QVERIFY(s->hasTransition(QStringLiteral("pageBack")));
        QVERIFY(!s->transition(QStringLiteral("success")));
        a->fire(); // goes back and deletes itself
        QVERIFY(a.isNull());
        QCOMPARE(fsm.moves, QStringList(QStringLiteral("<back>")));
        delete b;
    }

    // A transition under several names is deleted once: when its last name is removed, or by reset.
    void sharedTransitionDeletedOnce()
    {
        CFsm fsm;
        TestState s(&fsm, "s", QDomNode());
        QPointer<CTransition> t = new CTransition(&fsm, "t", QStringLiteral("s"), QStringLiteral("x"), QDomNode());
        s.addTransition(t, QStringLiteral("success|failed"));
        QCOMPARE(s.transition(QStringLiteral("failed")), t.data());
        QVERIFY(s.removeTransition(QStringLiteral("success")));
        QVERIFY(!t.isNull()); // still registered under "failed"
        QVERIFY(s.removeTransition(QStringLiteral("failed")));
        QVERIFY(t.isNull());
        QVERIFY(!s.removeTransition(QStringLiteral("failed")));

        t = new CTransition(&fsm, "u", QStringLiteral("s"), QStringLiteral("x"), QDomNode());
        s.addTransition(t, QStringLiteral("success|failed"));
        s.reset(); // a double delete would crash here
        QVERIFY(t.isNull());
        QVERIFY(s.transitions().isEmpty());
        QVERIFY(s.events().isEmpty());
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
        CFsm fsm("setup");
        auto* s = new TestState(&fsm, "two", QDomNode());
        auto* t = new CTransition(&fsm, "t", QStringLiteral("two"), QStringLiteral("next"), QDomNode());
        s->addTransition(t, QStringLiteral("failed"));
        QSignalSpy finished(s, &CState::finished);
        QSignalSpy progress(s, &CState::progress);
        s->setExitEvent(QStringLiteral("failed"));
        s->leaveState();
        s->leaveState();
        QCOMPARE(finished.count(), 0);
        QTRY_COMPARE(finished.count(), 2);
        QCOMPARE(finished.last().at(0).value<CState*>(), s);
        QCOMPARE(finished.last().at(1).value<CTransition*>(), t);
        QCOMPARE(progress.count(), 2);
        QCOMPARE(progress.first().first().toInt(), 100);
        QCOMPARE(s->progressPercent(), 100.0);
        QVERIFY(capture.all().contains(QStringLiteral("[state               ]--- State two: leave state with event = failed\n")));

        QCOMPARE(s->fullName(), QStringLiteral("setup:two"));
        QVERIFY(fsm.isFsm() && !s->isFsm());
        QCOMPARE(s->applicationProperties(), &fsm.appProperties);
        QVERIFY(s->hostObject() == nullptr);
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

        CFsm fsm;
        createdBy = 0;
        CState* s = root->create(QStringLiteral("deepType"), QDomNode(), &fsm, QStringLiteral("d"));
        QVERIFY(s);
        QCOMPARE(createdBy, 3);
        QCOMPARE(s->type(), QStringLiteral("deepType"));
        QCOMPARE(s->objectName(), QStringLiteral("d"));
        QVERIFY(grandchild->create(QStringLiteral("rootType"), QDomNode(), &fsm, QStringLiteral("r")));
        QCOMPARE(createdBy, 1); // asked up the parent chain
        QVERIFY(!grandchild->create(QStringLiteral("nobody"), QDomNode(), &fsm, QStringLiteral("n")));

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

        std::unique_ptr<CStateFactory> win(createFactory(nullptr));
        QCOMPARE(win->name(), QStringLiteral("win"));
        QVERIFY(win->typeNames(false, true).isEmpty());
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
};

QTEST_GUILESS_MAIN(TstState)
#include "tst_state.moc"
