#pragma once

#include "winsteps_export.h"

#include <QDomNode>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class CState;
class CStateFactory;
class QObject;

// Creates a state: (parent, object name, type name, calling factory, description).
using CStateCreator = CState* (*)(QObject* parent, const char* name, const QString& type,
                                  CStateFactory* factory, const QDomNode& description);

// Creates states by type name. Factories chain: a factory asks its children (those that
// know the type) and then its parent, so a host can combine the factories of several
// libraries. A factory owns its children.
class WINSTEPS_EXPORT CStateFactory
{
public:
    explicit CStateFactory(const QString& name, CStateFactory* parent = nullptr);
    virtual ~CStateFactory();
    CStateFactory(const CStateFactory&) = delete;
    CStateFactory& operator=(const CStateFactory&) = delete;

    virtual void registerState(const QString& type, CStateCreator creator);
    virtual QStringList stateTypes(const QString& factoryName, bool includeStates, bool includeFsms) const;
    virtual QStringList factoryNames() const;
    virtual CState* create(const QString& type, const QDomNode& description, QObject* parent,
                           const QString& name);
    virtual void addFactory(CStateFactory* child);
    virtual QString name() const;
    virtual CStateFactory* findFactory(const QString& name);
    virtual CState* createElsewhere(const QString& type, const QDomNode& description,
                                    QObject* parent, const QString& name);
    virtual bool hasType(const QString& type) const;
    virtual QStringList typeNames(bool includeStates, bool includeFsms) const;

    CStateFactory* parentFactory() const { return m_parent; }
    const QList<CStateFactory*>& children() const { return m_children; }

    // The creator every state class uses: construct, set the type, initialize.
    template <class State>
    static CState* creator(QObject* parent, const char* name, const QString& type,
                           CStateFactory*, const QDomNode& description);

private:
    QString m_name;
    QMap<QString, CStateCreator> m_creators;
    QList<CStateFactory*> m_children; // owned
    CStateFactory* m_parent = nullptr; // not owned
};

template <class State>
CState* CStateFactory::creator(QObject* parent, const char* name, const QString& type,
                               CStateFactory*, const QDomNode& description)
{
    auto* state = new State(parent, name, description);
    state->setType(type);
    state->initialize();
    return state;
}

// The plug-in's one entry point: builds the "win" factory with every state type of the
// library. The caller owns the factory.
extern "C" WINSTEPS_EXPORT CStateFactory* createFactory(CStateFactory* parent);
