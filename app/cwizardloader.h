#pragma once

#include "diagnostic.h"

#include <QByteArray>
#include <QDomElement>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class CApplication;
class CFsm;
class CStateFactory;
class CTransition;
class QDomDocument;

// Reads a wizard file and builds its machine:
//
//   <fsm name="setup" start="first">
//     <property key="..." value="..."/>            machine properties (also inside <system>)
//     <document name="config" file="config.xml"/>  an XML file whose root element becomes the
//                                                  machine's object property "config"
//                                                  (a relative file is beside the wizard)
//     <application> <property .../> </application> application properties
//     <state name="first" type="noop"> ... </state>
//     <transition from="first" to="second" event="finished|success">
//       <propertymap target="fsm.x" function="$value"/>
//     </transition>
//   </fsm>
//
// Everything is checked before anything is built; a wizard with any fault is refused as a
// whole, with one diagnostic ("FILE:LINE: message") per fault.
class CWizardLoader
{
public:
    explicit CWizardLoader(CStateFactory* factory);

    // The machine, or null with errors(). application receives the <application> properties
    // and is handed to the machine; it must outlive the machine's run. A wizard file is read
    // as any XML document is: only a regular file of a bounded size.
    std::unique_ptr<CFsm> load(const QString& path, CApplication* application);
    std::unique_ptr<CFsm> loadData(const QByteArray& data, const QString& fileName, CApplication* application);

    const QList<winsteps::host::Diagnostic>& errors() const { return m_errors; }

    // For tools that report on a wizard: build what can be built also of a wizard with
    // faults (states of unknown types, duplicate states and transitions from unknown
    // states are left out) and return the machine together with errors(). Off by default.
    void setKeepGoing(bool keepGoing) { m_keepGoing = keepGoing; }

    // Where the last loaded wizard declares its parts (0 when not known).
    struct TransitionSource
    {
        QString from;
        QString to;
        QString event;                 // as written, "a|b" for several
        int line = 0;
        QList<int> mapLines;           // of its <propertymap> elements, in order
        CTransition* transition = nullptr; // null when it was not built
    };
    int stateLine(const QString& name) const { return m_stateLines.value(name); }
    int startLine() const { return m_startLine; }
    const QList<TransitionSource>& transitionSources() const { return m_transitionSources; }

private:
    struct Declarations;

    void addError(int line, const QString& message);
    // The value of element's attribute name; reports it when missing (or empty, unless
    // emptyAllowed).
    QString requiredAttribute(const QDomElement& element, const QString& name, bool emptyAllowed = false);

    // The phases of loadData(): read the text into document (its <fsm> root, or null after
    // an error), gather and check what it declares, then build the machine, its states and
    // its transitions.
    QDomElement parseWizard(const QByteArray& data, QDomDocument& document);
    void readDeclarations(Declarations& declared);
    void readState(const QDomElement& element, Declarations& declared);
    void readTransition(const QDomElement& element, Declarations& declared);
    void readDocument(const QDomElement& element, Declarations& declared);
    void checkTransitions(const Declarations& declared);
    std::unique_ptr<CFsm> createMachine(Declarations& declared, CApplication* application);
    void createStates(CFsm* fsm, const Declarations& declared);
    void createTransitions(CFsm* fsm, const Declarations& declared);

    CStateFactory* m_factory;
    QString m_fileName;
    QList<winsteps::host::Diagnostic> m_errors;
    bool m_keepGoing = false;
    QHash<QString, int> m_stateLines;
    int m_startLine = 0;
    QList<TransitionSource> m_transitionSources;
};
