// The framework's hot paths under each transition: the states a transition binds to, the
// trace's text encoding and module tags, and the name test of property objects.

#include "debug/debugoutput.h"
#include "framework/cpropertyobject.h"
#include "framework/cstate.h"
#include "framework/ctransition.h"
#include "framework/istatemachine.h"

#include <QDomDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The least a transition needs: states found among the children by name.
class Machine : public CState, public IStateMachine
{
    Q_OBJECT
public:
    Machine() : CState(nullptr, "machine", QDomNode()) {}
    void execute() override {}
    CState* findState(const QString& name) const override
    {
        return findChild<CState*>(name, Qt::FindDirectChildrenOnly);
    }
    void moveToState(const QString& name) override { moves << name; }
    void pageBack() override {}
    QStringList moves;
};

class Plain : public CState
{
    Q_OBJECT
public:
    Plain(QObject* parent, const char* name) : CState(parent, name, QDomNode()) {}
    void execute() override {}
};

class Capture : public winsteps::TraceSink
{
public:
    Capture() { winsteps::setTraceSink(this); }
    ~Capture() override { winsteps::setTraceSink(nullptr); }
    void write(const std::string& piece) override { pieces.push_back(piece); }
    std::vector<std::string> pieces;
};

} // namespace

class TstHotPaths : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        {
            QSettings store(QSettings::UserScope, QStringLiteral("Korvane"), QStringLiteral("qt"));
            store.setValue(QStringLiteral("debug/filter/include"), QStringLiteral(".*"));
            store.setValue(QStringLiteral("debug/includeTimeStamp"), false);
        }
        winsteps::resetDebugSettingsForTest();
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
        Capture silence;
        Machine machine;
        auto* source = new Plain(&machine, "src");
        auto* target = new Plain(&machine, "dst");
        source->setProperty("v", QStringLiteral("one"));
        QDomDocument doc;
        QVERIFY(doc.setContent(QStringLiteral(R"(<transition><propertymap target="copy" function="$v"/></transition>)")));
        CTransition transition(&machine, "t", QStringLiteral("src"), QStringLiteral("dst"), doc.documentElement());
        transition.fire();
        QCOMPARE(target->property("copy").toString(), QStringLiteral("one"));

        if (replaceSource) {
            delete source;
            source = new Plain(&machine, "src");
        }
        if (replaceTarget) {
            delete target;
            target = new Plain(&machine, "dst");
        }
        source->setProperty("v", QStringLiteral("two"));
        transition.fire();
        QCOMPARE(target->property("copy").toString(), QStringLiteral("two"));
        QCOMPARE(machine.moves, QStringList({"dst", "dst"}));
    }

    // The message reaches the sink as UTF-8, whatever characters it holds.
    void messageEncoding_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("ascii") << QStringLiteral("plain text\n");
        QTest::newRow("empty") << QString();
        QTest::newRow("two-byte forms") << QStringLiteral("|\u00afpropertymap caf\u00e9 \u00ff\n");
        QTest::newRow("last two-byte form") << QStringLiteral("\u07ff");
        QTest::newRow("first three-byte form") << QStringLiteral("\u0800");
        QTest::newRow("two-byte then three-byte") << QStringLiteral("\u00e9\u6f22\u00e9");
        QTest::newRow("surrogate pair") << QString::fromUtf8("grin \xf0\x9f\x98\x80 end\n");
        QTest::newRow("lone high surrogate") << QString(QChar(0xd83d)) + QStringLiteral("x");
        QTest::newRow("embedded nul") << QString::fromUtf8("a\0b", 3);
    }

    void messageEncoding()
    {
        QFETCH(QString, message);
        Capture capture;
        winsteps::trace(winsteps::module::state, message);
        const QByteArray utf8 = message.toUtf8();
        const std::string joined = [&] {
            std::string all;
            for (std::size_t i = 1; i < capture.pieces.size(); ++i)
                all += capture.pieces[i];
            return all;
        }();
        QCOMPARE(capture.pieces.front(), std::string("[state               ]"));
        QCOMPARE(QByteArray::fromStdString(joined), utf8);
    }

    // Tags follow the module's name, not where the name is stored: a buffer reused for
    // another name gets that name's tag.
    void moduleTagsFollowTheText()
    {
        Capture capture;
        char name[32];
        std::strcpy(name, "regstates");
        winsteps::trace(name, QStringLiteral("1"));
        std::strcpy(name, "xpath");
        winsteps::trace(name, QStringLiteral("2"));
        const std::string copy = "regstates";
        winsteps::trace(copy.c_str(), QStringLiteral("3"));
        winsteps::trace(winsteps::module::xpath, QStringLiteral("4"));
        const std::vector<std::string> expected = {"[regstates           ]", "1", "[xpath               ]", "2",
                                                   "[regstates           ]", "3", "[xpath               ]", "4"};
        QCOMPARE(capture.pieces, expected);
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
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("long name") << QString(200, QLatin1Char('n')) << false;
    }

    void declaredNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, declared);
        CPropertyObject object(nullptr, "o");
        QCOMPARE(object.isDeclaredProperty(name), declared);
        if (!name.isEmpty()) {
            QVERIFY(object.setProperty(name, QStringLiteral("value")));
            QCOMPARE(object.property(name).toString(), QStringLiteral("value"));
            QCOMPARE(object.dataFields().contains(name), !declared);
        }
    }
};

QTEST_GUILESS_MAIN(TstHotPaths)
#include "tst_hotpaths.moc"
