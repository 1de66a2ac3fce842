// A minimal winsteps host: builds a machine from a wizard file with the plug-in's "win"
// factory, runs it without a user interface and prints the state it ended in.
//
//   winsteps-host WIZARD.xml
//
// The plug-in is linked, so its entry point createFactory is called directly; a host that
// picks its plug-ins at run time opens libwinsteps.so with QLibrary and resolves the same name.
#include <fsm/cstate.h>
#include <fsm/cstatefactory.h>
#include <fsm/ctransition.h>
#include <fsm/istatemachine.h>

#include <QCoreApplication>
#include <QDomDocument>
#include <QFile>
#include <QMap>
#include <QStringList>

#include <cstdio>
#include <memory>

// The machine: owns the states and the transitions of a wizard and executes one state at a
// time. When a state leaves, the transition registered for its exit event is fired (that
// applies its property maps and moves the machine on); a state without one ends the run.
class Machine : public CState, public IStateMachine
{
public:
    explicit Machine(const QDomElement& wizard)
        : CState(nullptr, "machine", wizard)
    {
    }

    // Builds the states and transitions of the wizard; false and a message on stderr when
    // the factory knows no such type.
    bool build(const QDomElement& wizard, CStateFactory& factory)
    {
        for (QDomElement e = wizard.firstChildElement(QStringLiteral("state")); !e.isNull();
             e = e.nextSiblingElement(QStringLiteral("state"))) {
            const QString name = e.attribute(QStringLiteral("name"));
            CState* state = factory.create(e.attribute(QStringLiteral("type")), e, this, name);
            if (!state) {
                std::fprintf(stderr, "no state type \"%s\"\n", qPrintable(e.attribute(QStringLiteral("type"))));
                return false;
            }
            m_states.insert(name, state);
            connect(state, &CState::finished, this, [this](CState* s, CTransition* t) { onFinished(s, t); });
        }
        for (QDomElement e = wizard.firstChildElement(QStringLiteral("transition")); !e.isNull();
             e = e.nextSiblingElement(QStringLiteral("transition"))) {
            const QString from = e.attribute(QStringLiteral("from"));
            const QString event = e.attribute(QStringLiteral("event"));
            CState* source = findState(from);
            if (!source)
                return false;
            const QByteArray objectName = (from + QLatin1Char(':') + event).toUtf8();
            source->addTransition(new CTransition(this, objectName.constData(), from,
                                                  e.attribute(QStringLiteral("to")), e),
                                  event);
        }
        return true;
    }

    // The parent-chain questions of the states stop here.
    QCoreApplication* application() const override { return QCoreApplication::instance(); }

    void execute() override { moveToState(m_start); }
    void setStart(const QString& name) { m_start = name; }

    CState* findState(const QString& name) const override { return m_states.value(name); }

    // Each state runs from the event loop, never inside the previous state's transition.
    void moveToState(const QString& name) override
    {
        if (m_current)
            m_history << m_current->objectName();
        m_current = findState(name);
        if (!m_current) {
            std::printf("no state named \"%s\"\n", qPrintable(name));
            QCoreApplication::exit(1);
            return;
        }
        QMetaObject::invokeMethod(this, [this] { m_current->execute(); }, Qt::QueuedConnection);
    }

    // Back to the state visited before the current one.
    void pageBack() override
    {
        if (m_history.isEmpty()) {
            std::printf("no page to go back to\n");
            QCoreApplication::exit(1);
            return;
        }
        m_current = nullptr;
        moveToState(m_history.takeLast());
    }

private:
    void onFinished(CState* state, CTransition* transition)
    {
        if (transition) {
            transition->fire();
            return;
        }
        std::printf("ended in state \"%s\" with event \"%s\"\n", qPrintable(state->objectName()),
                    qPrintable(state->exitEvent()));
        for (const QString& name : state->resultProperties())
            std::printf("  %s = %s\n", qPrintable(name), qPrintable(state->property(name).toString()));
        QCoreApplication::exit(state->exitEvent() == QLatin1String("failed") ? 1 : 0);
    }

    QMap<QString, CState*> m_states; // children of the machine
    QString m_start;
    CState* m_current = nullptr;
    QStringList m_history;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: winsteps-host WIZARD.xml\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    QDomDocument document;
    if (!file.open(QIODevice::ReadOnly) || !document.setContent(&file)) {
        std::fprintf(stderr, "cannot read the wizard %s\n", argv[1]);
        return 2;
    }
    const QDomElement wizard = document.documentElement();

    // The plug-in's factory; the caller owns it.
    const std::unique_ptr<CStateFactory> factory(createFactory(nullptr));
    Machine machine(wizard);
    if (!factory || !machine.build(wizard, *factory))
        return 2;
    machine.setStart(wizard.attribute(QStringLiteral("start")));
    QMetaObject::invokeMethod(&machine, [&machine] { machine.execute(); }, Qt::QueuedConnection);
    return app.exec();
}
