#include "cwizardloader.h"

#include "capplication.h"
#include "cfsm.h"
#include "expression/cxpathnode.h"
#include "fsm/cstatefactory.h"
#include "fsm/ctransition.h"

#include <QDir>
#include <QDomDocument>
#include <QDomElement>
#include <QFileInfo>
#include <QHash>

#include <memory>
#include <vector>

namespace {

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

CWizardLoader::CWizardLoader(CStateFactory* factory)
    : m_factory(factory)
{
}

void CWizardLoader::addError(int line, const QString& message)
{
    m_errors << winsteps::host::Diagnostic{m_fileName, line, message};
}

std::unique_ptr<CFsm> CWizardLoader::load(const QString& path, CApplication* application)
{
    QByteArray data;
    QString why;
    if (!CXPathNode::readDocumentFile(path, &data, &why)) {
        m_fileName = path;
        m_errors.clear();
        m_errors << winsteps::host::Diagnostic{path, 0, QLatin1String("cannot open the wizard: ") + why};
        return nullptr;
    }
    return loadData(data, path, application);
}

// What a wizard declares, gathered before anything is built.
struct CWizardLoader::Declarations
{
    struct Transition
    {
        QDomElement element;
        QString from;
        QString to;
        QString event;
    };

    QDomElement root;
    QString fsmName;
    QString start;
    QList<QDomElement> stateElements;
    QList<QDomElement> ownProperties; // <property> and <system> of the machine itself
    QList<QDomElement> applicationElements;
    QList<Transition> transitions;
    QHash<QString, int> stateLines; // name -> line of its declaration
    std::vector<std::pair<QString, std::unique_ptr<CXPathNode>>> documents; // <document> elements, loaded
};

std::unique_ptr<CFsm> CWizardLoader::loadData(const QByteArray& data, const QString& fileName, CApplication* application)
{
    m_fileName = fileName;
    m_errors.clear();
    m_stateLines.clear();
    m_startLine = 0;
    m_transitionSources.clear();

    QDomDocument document;
    Declarations declared;
    declared.root = parseWizard(data, document);
    if (declared.root.isNull())
        return nullptr;
    readDeclarations(declared);
    checkTransitions(declared);
    if (!m_errors.isEmpty() && !m_keepGoing)
        return nullptr;

    std::unique_ptr<CFsm> fsm = createMachine(declared, application);
    createStates(fsm.get(), declared);
    if (!m_errors.isEmpty() && !m_keepGoing)
        return nullptr;
    createTransitions(fsm.get(), declared);
    return fsm;
}

QDomElement CWizardLoader::parseWizard(const QByteArray& data, QDomDocument& document)
{
    int line = 0;
    QString problem;
    if (!CXPathNode::parseDocumentText(data, &document, &line, &problem)) {
        addError(line, problem);
        return QDomElement();
    }
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("fsm")) {
        addError(root.lineNumber(), QLatin1String("the root element is <") + root.tagName()
                                        + QLatin1String(">, expected <fsm>"));
        return QDomElement();
    }
    return root;
}

QString CWizardLoader::requiredAttribute(const QDomElement& element, const QString& name, bool emptyAllowed)
{
    if (!element.hasAttribute(name) || (!emptyAllowed && element.attribute(name).isEmpty()))
        addError(element.lineNumber(), QLatin1String("missing attribute ") + quoted(name)
                                           + QLatin1String(" on <") + element.tagName() + QLatin1Char('>'));
    return element.attribute(name);
}

void CWizardLoader::readDeclarations(Declarations& declared)
{
    const QDomElement& root = declared.root;
    declared.fsmName = requiredAttribute(root, QStringLiteral("name"));
    declared.start = requiredAttribute(root, QStringLiteral("start"));

    for (QDomElement child = root.firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        const QString tag = child.tagName();
        if (tag == QLatin1String("property") || tag.toLower() == QLatin1String("system"))
            declared.ownProperties << child;
        else if (tag == QLatin1String("application"))
            declared.applicationElements << child;
        else if (tag == QLatin1String("state"))
            readState(child, declared);
        else if (tag == QLatin1String("transition"))
            readTransition(child, declared);
        else if (tag == QLatin1String("document"))
            readDocument(child, declared);
        else
            addError(child.lineNumber(), QLatin1String("unknown element <") + tag + QLatin1String("> in <fsm>"));
    }

    if (!declared.start.isEmpty() && !declared.stateLines.contains(declared.start))
        addError(root.lineNumber(), QLatin1String("unknown start state ") + quoted(declared.start));
    m_stateLines = declared.stateLines;
    m_startLine = root.lineNumber();
}

void CWizardLoader::readState(const QDomElement& element, Declarations& declared)
{
    const QString name = requiredAttribute(element, QStringLiteral("name"));
    const QString type = requiredAttribute(element, QStringLiteral("type"));
    if (!type.isEmpty() && !m_factory->hasType(type))
        addError(element.lineNumber(), QLatin1String("unknown state type ") + quoted(type)
                                           + QLatin1String(" of state ") + quoted(name));
    if (!name.isEmpty()) {
        if (declared.stateLines.contains(name))
            addError(element.lineNumber(), QLatin1String("duplicate state name ") + quoted(name)
                                               + QLatin1String(" (first declared on line ")
                                               + QString::number(declared.stateLines.value(name)) + QLatin1Char(')'));
        else
            declared.stateLines.insert(name, element.lineNumber());
    }
    declared.stateElements << element;
}

void CWizardLoader::readTransition(const QDomElement& element, Declarations& declared)
{
    Declarations::Transition transition{element, requiredAttribute(element, QStringLiteral("from")),
                                        requiredAttribute(element, QStringLiteral("to")),
                                        requiredAttribute(element, QStringLiteral("event"))};
    for (QDomElement map = element.firstChildElement(QStringLiteral("propertymap")); !map.isNull();
         map = map.nextSiblingElement(QStringLiteral("propertymap"))) {
        requiredAttribute(map, QStringLiteral("target"));
        requiredAttribute(map, QStringLiteral("function"), true);
    }
    declared.transitions << transition;
}

void CWizardLoader::readDocument(const QDomElement& element, Declarations& declared)
{
    const QString name = requiredAttribute(element, QStringLiteral("name"));
    const QString file = requiredAttribute(element, QStringLiteral("file"));
    if (name.isEmpty() || file.isEmpty())
        return;
    const QString path = QDir(QFileInfo(m_fileName).absolutePath()).filePath(file);
    // A file that cannot be a document is named in the loader's own words; a failure to
    // open or parse it, in the reader's.
    const QString problem = CXPathNode::documentFileProblem(path);
    QString error = problem.isEmpty() ? QString() : path + QLatin1String(": ") + problem;
    std::unique_ptr<CXPathNode> node = problem.isEmpty() ? CXPathNode::loadDocument(path, &error) : nullptr;
    if (node)
        declared.documents.emplace_back(name, std::move(node));
    else
        addError(element.lineNumber(), QLatin1String("cannot load the document ") + quoted(name)
                                           + QLatin1String(": ") + error);
}

void CWizardLoader::checkTransitions(const Declarations& declared)
{
    QHash<QString, int> eventLines; // "state\nevent" -> line of the transition that takes it
    for (const Declarations::Transition& t : declared.transitions) {
        const int at = t.element.lineNumber();
        if (!t.from.isEmpty() && !declared.stateLines.contains(t.from))
            addError(at, QLatin1String("transition from unknown state ") + quoted(t.from));
        if (!t.to.isEmpty() && !declared.stateLines.contains(t.to))
            addError(at, QLatin1String("transition to unknown state ") + quoted(t.to));
        if (t.event.isEmpty())
            continue;
        for (const QString& event : t.event.split(QLatin1Char('|'))) {
            if (event.isEmpty()) {
                addError(at, QLatin1String("empty event name in ") + quoted(t.event));
                continue;
            }
            const QString key = t.from + QLatin1Char('\n') + event;
            if (eventLines.contains(key))
                addError(at, QLatin1String("state ") + quoted(t.from) + QLatin1String(" already has a transition for event ")
                                 + quoted(event) + QLatin1String(" (line ") + QString::number(eventLines.value(key))
                                 + QLatin1Char(')'));
            else
                eventLines.insert(key, at);
        }
    }
}

std::unique_ptr<CFsm> CWizardLoader::createMachine(Declarations& declared, CApplication* application)
{
    // The machine declares its properties from a description holding only its own
    // <property> and <system> children, so that the elements of states and of the
    // application are not mistaken for its own.
    QDomDocument own;
    QDomElement ownRoot = own.createElement(QStringLiteral("fsm"));
    own.appendChild(ownRoot);
    for (const QDomElement& element : std::as_const(declared.ownProperties))
        ownRoot.appendChild(own.importNode(element, true));

    const QByteArray fsmObjectName = declared.fsmName.toUtf8();
    auto fsm = std::make_unique<CFsm>(nullptr, fsmObjectName.constData(), ownRoot);
    fsm->setStartState(declared.start);
    if (application) {
        for (const QDomElement& element : std::as_const(declared.applicationElements))
            application->declareProperties(element);
        fsm->setApplicationProperties(application);
    }
    for (auto& [name, node] : declared.documents) {
        if (!fsm->adoptObjectProperty(name, std::move(node)))
            addError(declared.root.lineNumber(), QLatin1String("the document name ") + quoted(name)
                                                     + QLatin1String(" is a property of the machine itself"));
    }
    return fsm;
}

void CWizardLoader::createStates(CFsm* fsm, const Declarations& declared)
{
    for (const QDomElement& element : declared.stateElements) {
        const QString name = element.attribute(QStringLiteral("name"));
        const QString type = element.attribute(QStringLiteral("type"));
        if (m_keepGoing && (name.isEmpty() || !m_factory->hasType(type) || fsm->findState(name)))
            continue; // reported above
        CState* state = m_factory->create(type, element, fsm, name);
        if (!state) {
            addError(element.lineNumber(), QLatin1String("the factory made no state of type ") + quoted(type));
            continue;
        }
        // Under the wizard's name, whatever its description renames.
        if (!fsm->addState(state, name)) {
            addError(element.lineNumber(), QLatin1String("cannot add the state ") + quoted(name));
            delete state;
        }
    }
}

void CWizardLoader::createTransitions(CFsm* fsm, const Declarations& declared)
{
    QList<CTransition*> built;
    for (const Declarations::Transition& t : declared.transitions) {
        TransitionSource source{t.from, t.to, t.event, t.element.lineNumber(), {}, nullptr};
        for (QDomElement map = t.element.firstChildElement(QStringLiteral("propertymap")); !map.isNull();
             map = map.nextSiblingElement(QStringLiteral("propertymap")))
            source.mapLines << map.lineNumber();
        CState* from = fsm->findState(t.from);
        if (m_keepGoing) {
            // Only what the checks above let through: a known source and events of its own.
            bool usable = from && !t.event.isEmpty();
            for (const QString& event : t.event.split(QLatin1Char('|')))
                usable = usable && !event.isEmpty() && !from->transitions().contains(event);
            if (!usable) {
                m_transitionSources << source;
                continue;
            }
        }
        const QByteArray objectName = (t.from + QLatin1Char(':') + t.event).toUtf8();
        auto* transition = new CTransition(fsm, objectName.constData(), t.from, t.to, t.element);
        from->addTransition(transition, t.event);
        built << transition;
        source.transition = transition;
        m_transitionSources << source;
    }
    // Tell the receiving states and the machine which properties the maps will set.
    for (CTransition* transition : std::as_const(built))
        transition->checkPropertyMaps();
}
