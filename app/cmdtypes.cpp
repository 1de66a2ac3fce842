// winsteps types: the state types of the loaded factories with their events and properties.

#include "cfsm.h"
#include "fsm/cstatefactory.h"
#include "pluginloader.h"
#include "subcommand.h"
#include "cwizardrunner.h"
#include "tracesinks.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

namespace winsteps::host {

namespace {

const QString Command = QStringLiteral("types");

struct TypeInfo
{
    QString type;
    QString className;
    QStringList events;
    QStringList required;
    QStringList results;
};

struct FactoryInfo
{
    QString name;
    QList<TypeInfo> types;
};

// Asks every type of every factory in the chain: a state made without a description
// shows what its class declares by itself.
QList<FactoryInfo> describe(CStateFactory* root)
{
    CFsm probe(nullptr, "types", QDomNode());
    QList<FactoryInfo> factories;
    for (const QString& name : root->factoryNames()) {
        CStateFactory* factory = root->findFactory(name);
        if (!factory)
            continue;
        FactoryInfo info{name, {}};
        for (const QString& type : factory->typeNames(true, true)) {
            std::unique_ptr<CState> state(factory->create(type, QDomNode(), &probe, type));
            if (!state) {
                info.types << TypeInfo{type, QString(), {}, {}, {}};
                continue;
            }
            info.types << TypeInfo{type, QString::fromLatin1(state->metaObject()->className()), state->events(),
                                   state->requiredProperties(), state->resultProperties()};
        }
        factories << info;
    }
    return factories;
}

QString listText(const QStringList& list)
{
    return list.isEmpty() ? QStringLiteral("-") : list.join(QLatin1String(", "));
}

} // namespace

int typesCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists every state type of the loaded factories (the host's own and the plug-in's), with\n"
        "the events a state of that type can leave by, its required properties and its result\n"
        "properties."));
    parser.addOption(cli::helpOption());
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Writes the list as JSON: {\"factories\": [{\"name\", \"types\": "
                                                       "[{\"type\", \"class\", \"events\", \"required\", \"results\"}]}]}."));
    parser.addOption(jsonOption);
    if (const int status = cli::parse(parser, Command, QStringLiteral("[options]"), arguments); status >= 0)
        return status;
    if (!parser.positionalArguments().isEmpty())
        return cli::usageError(Command, QStringLiteral("no arguments expected"));

    QString error;
    std::unique_ptr<CStateFactory> factory(createFactories(&error));
    if (!factory) {
        cli::err(QLatin1String("winsteps types: ") + error + QLatin1Char('\n'));
        return ExitUsage;
    }
    QList<FactoryInfo> factories;
    {
        const CSilentTraces silent; // the probe states trace their creation
        factories = describe(factory.get());
    }

    if (parser.isSet(jsonOption)) {
        QJsonArray list;
        for (const FactoryInfo& f : factories) {
            QJsonArray types;
            for (const TypeInfo& t : f.types)
                types.append(QJsonObject{{QStringLiteral("type"), t.type},
                                         {QStringLiteral("class"), t.className},
                                         {QStringLiteral("events"), QJsonArray::fromStringList(t.events)},
                                         {QStringLiteral("required"), QJsonArray::fromStringList(t.required)},
                                         {QStringLiteral("results"), QJsonArray::fromStringList(t.results)}});
            list.append(QJsonObject{{QStringLiteral("name"), f.name}, {QStringLiteral("types"), types}});
        }
        cli::out(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("factories"), list}}).toJson()));
        return ExitOk;
    }

    QString text;
    for (const FactoryInfo& f : factories) {
        text += QStringLiteral("factory \"%1\"\n").arg(f.name);
        if (f.types.isEmpty())
            text += QStringLiteral("  (no types)\n");
        for (const TypeInfo& t : f.types) {
            text += QStringLiteral("  %1 (%2)\n").arg(t.type, t.className.isEmpty() ? QStringLiteral("not creatable") : t.className);
            text += QStringLiteral("    events:   %1\n").arg(listText(t.events));
            text += QStringLiteral("    required: %1\n").arg(listText(t.required));
            text += QStringLiteral("    results:  %1\n").arg(listText(t.results));
        }
    }
    cli::out(text);
    return ExitOk;
}

} // namespace winsteps::host
