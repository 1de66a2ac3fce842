// The host's machine stepping through a wizard: the order in which its effects are seen
// (signals, receivers of a state's finished signal, property values), the exact trace bytes
// of each step and how many writes they take, stray leave events, and the page history.

#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "cwizardrunner.h"
#include "fsm/cstatefactory.h"
#include "hostfactory.h"

#include "debug/debugoutput.h"
#include "support/clogrecorder.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

using namespace winsteps::host;

namespace {

// A chain of noop states; each transition adds one to the machine's property x.
QByteArray chain(const QStringList& names)
{
    QByteArray text = "<fsm name=\"m\" start=\"" + names.first().toUtf8() + "\"><property key=\"x\" value=\"0\"/>";
    for (int i = 0; i < names.size(); ++i) {
        text += "<state name=\"" + names[i].toUtf8() + "\" type=\"noop\"/>";
        if (i + 1 < names.size())
            text += "<transition from=\"" + names[i].toUtf8() + "\" to=\"" + names[i + 1].toUtf8()
                    + "\" event=\"finished\"><propertymap target=\"fsm.x\" function=\"add($fsm.x,1)\"/></transition>";
    }
    return text + "</fsm>";
}

// A state that leaves twice from one execute().
class CTwiceState : public CState
{
public:
    CTwiceState(QObject* parent, const char* name, const QDomNode& description)
        : CState(parent, name, description)
    {
        addEvent(QStringLiteral("finished"));
    }
    void execute() override
    {
        setExitEvent(QStringLiteral("finished"));
        leaveState();
        leaveState();
    }
};

// Every posted event that is due now is delivered (a step never waits for anything else).
void settle()
{
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
}

} // namespace

class TstFsmSteps : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config;
    std::unique_ptr<CStateFactory> m_factory;

    std::unique_ptr<CFsm> load(const QByteArray& text, CApplication* application = nullptr)
    {
        CWizardLoader loader(m_factory.get());
        std::unique_ptr<CFsm> fsm(loader.loadData(text, QStringLiteral("steps.xml"), application));
        if (!fsm)
            qWarning("%s", qPrintable(toTexts(loader.errors()).join('\n')));
        return fsm;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Trace filters of our own: tags shown, no time stamps, whatever other tests set.
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        {
            QSettings store(QSettings::UserScope, QStringLiteral("Korvane"), QStringLiteral("qt"));
            store.setValue(QStringLiteral("debug/filter/include"), QStringLiteral(".*"));
            store.setValue(QStringLiteral("debug/filter/exclude"), QString());
            store.setValue(QStringLiteral("debug/includeTimeStamp"), false);
        }
        winsteps::resetDebugSettingsForTest();
        m_factory = createHostFactory();
    }

    // What a host sees, in order: the next state starts only after every receiver of the
    // previous state's finished signal has returned, with the maps already applied.
    void orderOfEffects_data()
    {
        QTest::addColumn<QStringList>("states");
        QTest::addColumn<QString>("stopAfter"); // the host stops the run when this state finishes
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("chain of three") << QStringList{"a", "b", "c"} << QString()
            << QStringList{"enter a x=0", "finished a finished", "late a", "enter b x=1", "finished b finished",
                           "late b", "enter c x=2", "finished c finished", "late c", "done finished"};
        QTest::newRow("single state") << QStringList{"only"} << QString()
            << QStringList{"enter only x=0", "finished only finished", "late only", "done finished"};
        QTest::newRow("stopped while a state finishes") << QStringList{"a", "b", "c"} << QStringLiteral("b")
            << QStringList{"enter a x=0", "finished a finished", "late a", "enter b x=1", "finished b finished", "late b"};
    }

    void orderOfEffects()
    {
        QFETCH(QStringList, states);
        QFETCH(QString, stopAfter);
        QFETCH(QStringList, expected);

        std::unique_ptr<CFsm> fsm = load(chain(states));
        QVERIFY(fsm);
        QStringList log;
        CFsm* machine = fsm.get();
        connect(machine, &CFsm::stateEntered, this, [&log, machine](CState* state) {
            log << QStringLiteral("enter %1 x=%2").arg(state->objectName(), machine->property("x").toString());
        });
        connect(machine, &CFsm::stateFinished, this, [&log, machine, stopAfter](CState* state, const QString& event) {
            log << QStringLiteral("finished %1 %2").arg(state->objectName(), event);
            if (state->objectName() == stopAfter)
                machine->stop();
        });
        // Connected after the machine's own connection: runs after it for each state.
        for (CState* state : fsm->states())
            connect(state, &CState::finished, this, [&log, state] { log << QStringLiteral("late ") + state->objectName(); });
        connect(machine, &CState::finished, this,
                [&log, machine] { log << QStringLiteral("done ") + machine->exitEvent(); });

        fsm->execute();
        QTRY_COMPARE(log.size(), expected.size());
        settle();
        QCOMPARE(log, expected);
        QVERIFY(!fsm->isRunning());
    }

    // The bytes of a run's trace are unchanged, and each step (a state's start, or a
    // transition with the next state's start) reaches std::clog in one write.
    void traceBytesAndWrites()
    {
        std::unique_ptr<CFsm> fsm = load(chain({"a", "b"}));
        QVERIFY(fsm);
        QSignalSpy done(fsm.get(), &CState::finished);
        const std::string state = "[state               ]";
        const std::string transition = "[transition          ]";
        const std::vector<std::string> expected = {
            state + "--- State a: enter state (type noop)\n" + state + "--- State a: leave state with event = finished\n",
            transition + "\n" + transition + "|\xc2\xafpropertymap\n" + transition
                + "| - get value from property \"x\" from FSM.\n" + transition + "|   value as string = 0\n"
                + transition + "|_Set property \"x\" value as string = 1\n" + state
                + "--- State b: enter state (type noop)\n" + state + "--- State b: leave state with event = finished\n",
            state + "--- State m: leave state with event = finished\n",
        };

        winsteps::setTraceSink(nullptr);
        bool finished = false;
        std::vector<std::string> calls;
        {
            testsupport::ClogRecorder recorder;
            fsm->execute();
            finished = QTest::qWaitFor([&done] { return done.count() == 1; });
            settle();
            calls = recorder.calls;
        }

        QVERIFY(finished);
        QCOMPARE(calls.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            QCOMPARE(QString::fromStdString(calls[i]), QString::fromStdString(expected[i]));
    }

    // A leave event of a state that is not running, queued before the run starts, is
    // ignored, and the start state still runs exactly once; a run started again after it
    // ended goes through every state again.
    void strayLeaveEventAndSecondRun()
    {
        std::unique_ptr<CFsm> fsm = load(chain({"a", "b", "c"}));
        QVERIFY(fsm);
        QStringList entered;
        connect(fsm.get(), &CFsm::stateEntered, this, [&entered](CState* s) { entered << s->objectName(); });
        QSignalSpy done(fsm.get(), &CState::finished);

        fsm->findState("c")->leaveState(); // queued ahead of the machine's first step
        for (int run = 1; run <= 2; ++run) {
            fsm->setProperty("x", 0);
            fsm->execute();
            QTRY_COMPARE(done.count(), run);
            settle();
            QCOMPARE(entered.join(QString()), QStringLiteral("abc").repeated(run));
            QCOMPARE(fsm->property("x").toInt(), 2);
            QCOMPARE(fsm->exitEvent(), QStringLiteral("finished"));
        }
    }

    void history()
    {
        const std::unique_ptr<CFsm> fsm = load(R"(<fsm name="m" start="a"><state name="a" type="noop"/>
                 <state name="b" type="noop"/><state name="c" type="noop"/></fsm>)");
        QVERIFY(fsm);
        const auto current = [&fsm] { return fsm->currentState()->objectName(); };
        for (const char* state : {"a", "b", "c"})
            fsm->moveToState(state);
        QCOMPARE(fsm->history(), QStringList({"a", "b"}));
        fsm->pageBack();
        QCOMPARE(current(), QStringLiteral("b"));
        QCOMPARE(fsm->history(), QStringList({"a"}));
        fsm->moveToState("c"); // forward again from b
        QCOMPARE(fsm->history(), QStringList({"a", "b"}));
        fsm->pageBack();
        fsm->pageBack();
        fsm->pageBack(); // nothing left: stays
        QCOMPARE(current(), QStringLiteral("a"));
        fsm->moveToState("nowhere"); // refused, current kept
        QCOMPARE(current(), QStringLiteral("a"));
        QVERIFY(fsm->history().isEmpty());
    }

    // A state that leaves twice is followed once; the parent chain ends at the machine.
    void leaveTwice()
    {
        m_factory->registerState("twice", &CStateFactory::creator<CTwiceState>);
        CApplication application;
        const std::unique_ptr<CFsm> fsm = load(R"(<fsm name="m" start="a">
                 <application><property key="lang" value="en"/></application>
                 <state name="a" type="twice"/><state name="b" type="noop"/>
                 <transition from="a" to="b" event="finished"/></fsm>)", &application);
        QVERIFY(fsm);
        QCOMPARE(fsm->findState("a")->applicationProperties(), &application);
        QCOMPARE(fsm->findState("a")->application(), QCoreApplication::instance());
        QCOMPARE(application.property("lang").toString(), QStringLiteral("en"));

        CWizardRunner runner(fsm.get());
        QCOMPARE(runner.run(), int(ExitOk));
        QStringList steps;
        for (const Step& step : runner.steps())
            steps << step.state + QLatin1Char(':') + step.event;
        QCOMPARE(steps, QStringList({"a:finished", "b:finished"}));
        QVERIFY(!fsm->isRunning());
        QCOMPARE(fsm->exitEvent(), QStringLiteral("finished"));
    }
};

QTEST_GUILESS_MAIN(TstFsmSteps)
#include "tst_fsmsteps.moc"
