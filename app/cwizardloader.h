#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class CApplication;
class CFsm;
class CStateFactory;

// Reads a wizard file and builds its machine:
//
//   <fsm name="setup" start="first">
//     <property key="..." value="..."/>            machine properties (also inside <system>)
//     <application> <property .../> </application> application properties
//     <state name="first" type="noop"> ... </state>
//     <transition from="first" to="second" event="finished|success">
//       <propertymap target="fsm.x" function="$value"/>
//     </transition>
//   </fsm>
//
// Everything is checked before anything is built; a wizard with any fault is refused as a
// whole, with one "FILE:LINE: message" text per fault.
class CWizardLoader
{
public:
    explicit CWizardLoader(CStateFactory* factory);

    // The machine (caller owns), or null with errors(). application receives the
    // <application> properties and is handed to the machine; it must outlive the machine's run.
    CFsm* load(const QString& path, CApplication* application);
    CFsm* loadData(const QByteArray& data, const QString& fileName, CApplication* application);

    QStringList errors() const { return m_errors; }

private:
    void addError(int line, const QString& message);

    CStateFactory* m_factory;
    QString m_fileName;
    QStringList m_errors;
};
