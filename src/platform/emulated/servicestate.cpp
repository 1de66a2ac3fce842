// The service control manager's records on an emulated machine: configuration in the registry
// part of the store, run-time state as records of the store, staged behaviour from the profile.

#include "platform/emulated/servicestate.h"

#include "platform/emulated/machineprofile.h"
#include "platform/emulated/processrecords.h"
#include "platform/emulated/profilereader.h"
#include "platform/emulated/registrystore.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

namespace winsteps::platform::emulated {

namespace {

const char* const servicesPath[] = {"SYSTEM", "CurrentControlSet", "Services"};

const QString stagingRecord = QStringLiteral("serviceStaging");

QString recordName(const QString& name)
{
    return QStringLiteral("service:") + RegistryStore::fold(name);
}

QByteArray stringData(const QString& text)
{
    QByteArray data = text.toUtf8();
    data.append('\0');
    return data;
}

QByteArray dwordData(std::uint32_t value)
{
    QByteArray data;
    for (int i = 0; i < 4; ++i)
        data.append(char((value >> (8 * i)) & 0xFF));
    return data;
}

QString stringOf(const RegistryStore::Value& value)
{
    QByteArray data = value.data;
    while (data.endsWith('\0'))
        data.chop(1);
    return QString::fromUtf8(data);
}

std::uint32_t dwordOf(const RegistryStore::Value& value, std::uint32_t fallback)
{
    if (value.type != REG_DWORD || value.data.size() < 4)
        return fallback;
    std::uint32_t result = 0;
    for (int i = 0; i < 4; ++i)
        result |= std::uint32_t(std::uint8_t(value.data[i])) << (8 * i);
    return result;
}

std::uint32_t stateWord(const QString& word)
{
    return word == QLatin1String("running") ? SERVICE_RUNNING : SERVICE_STOPPED;
}

} // namespace

// --- behaviour ---------------------------------------------------------------------------

bool checkServiceStaging(const QJsonObject& profile, const QString& source, QString* error)
{
    ProfileReader r(source, error);
    QJsonObject table;
    if (!r.object(profile, QStringLiteral("services"), QStringLiteral("services"), &table))
        return false;
    for (auto it = table.begin(); it != table.end(); ++it) {
        const QString where = QStringLiteral("services.") + it.key();
        if (!it.value().isObject())
            return r.fail(where, QStringLiteral("must be an object"));
        const QJsonObject staged = it.value().toObject();
        for (auto item = staged.begin(); item != staged.end(); ++item) {
            const QString key = item.key();
            const QJsonValue v = item.value();
            const QString path = where + QLatin1Char('.') + key;
            if (key == QLatin1String("startSeconds") || key == QLatin1String("stopSeconds")) {
                if (!v.isDouble() || v.toDouble() < 0 || v.toDouble() > 86400)
                    return r.fail(path, QStringLiteral("must be a number of seconds from 0 to 86400"));
            } else if (key == QLatin1String("startFailure")) {
                double code = 0;
                if (!r.integer(staged, key, path, 1, 4294967295.0, &code))
                    return false;
            } else if (key == QLatin1String("stoppable") || key == QLatin1String("pausable")) {
                if (!v.isBool())
                    return r.fail(path, QStringLiteral("must be true or false"));
            } else if (key == QLatin1String("hangs")) {
                if (v.toString() != QLatin1String("starting") && v.toString() != QLatin1String("stopping"))
                    return r.fail(path, QStringLiteral("must be \"starting\" or \"stopping\""));
            } else if (key == QLatin1String("state")) {
                if (v.toString() != QLatin1String("running") && v.toString() != QLatin1String("stopped"))
                    return r.fail(path, QStringLiteral("must be \"running\" or \"stopped\""));
            } else {
                return r.fail(path, QStringLiteral("is unknown (known: startSeconds, stopSeconds, hangs, startFailure, "
                                                   "stoppable, pausable, state)"));
            }
        }
    }
    return true;
}

QJsonObject stagedEntry(const QJsonObject& table, const QString& name)
{
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value().toObject();
    }
    return QJsonObject();
}

ServiceBehaviour serviceBehaviour(const MachineProfile& profile, const QString& name, const QJsonObject& over)
{
    ServiceBehaviour behaviour;
    QJsonObject staged = stagedEntry(profile.json().value(QStringLiteral("services")).toObject(), name);
    for (auto it = over.begin(); it != over.end(); ++it)
        staged.insert(it.key(), it.value());
    const auto seconds = [&staged](const char* key, qint64 fallback) {
        const QJsonValue v = staged.value(QLatin1String(key));
        return v.isDouble() && v.toDouble() >= 0 ? qint64(v.toDouble() * 1000) : fallback;
    };
    behaviour.startMs = seconds("startSeconds", behaviour.startMs);
    behaviour.stopMs = seconds("stopSeconds", behaviour.stopMs);
    const QString hangs = staged.value(QStringLiteral("hangs")).toString();
    behaviour.hangsStarting = hangs == QLatin1String("starting");
    behaviour.hangsStopping = hangs == QLatin1String("stopping");
    behaviour.startFailure = std::uint32_t(staged.value(QStringLiteral("startFailure")).toDouble(0));
    behaviour.stoppable = staged.value(QStringLiteral("stoppable")).toBool(true);
    behaviour.pausable = staged.value(QStringLiteral("pausable")).toBool(false);
    const QJsonValue state = staged.value(QStringLiteral("state"));
    if (state.isString())
        behaviour.initialState = stateWord(state.toString());
    else if (freshServiceRuns(profile, name))
        behaviour.initialState = SERVICE_RUNNING;
    return behaviour;
}

// --- run-time state ----------------------------------------------------------------------

bool ServiceRunState::pending() const
{
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_CONTINUE_PENDING
        || state == SERVICE_PAUSE_PENDING;
}

bool ServiceRunState::resolve(qint64 now)
{
    if (!pending() || duration < 0 || now < since + duration)
        return false;
    state = target;
    duration = 0;
    return true;
}

bool ServiceRunState::held() const
{
    for (auto it = holders.begin(); it != holders.end(); ++it) {
        if (it.value() > 0 && markRuns(it.key()))
            return true;
    }
    return false;
}

QString thisProcessMark()
{
    static const QString mark = QStringLiteral("%1:%2").arg(::getpid()).arg(processStartTime(::getpid()));
    return mark;
}

bool markRuns(const QString& mark)
{
    const QStringList parts = mark.split(QLatin1Char(':'));
    if (parts.size() < 2)
        return false;
    return processStartTime(parts[0].toInt()) == parts[1].toULongLong() && parts[1].toULongLong() != 0;
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// --- the store ---------------------------------------------------------------------------

qint64 ServiceStore::servicesKey(bool create)
{
    qint64 id = m_hklm;
    for (const char* part : servicesPath) {
        if (!id)
            return 0;
        qint64 child = m_store.child(id, QLatin1String(part));
        if (!child && create)
            child = m_store.addChild(id, QLatin1String(part), false);
        id = child;
    }
    return id;
}

qint64 ServiceStore::serviceKey(const QString& name)
{
    const qint64 services = servicesKey(false);
    return services ? m_store.child(services, name) : 0;
}

QStringList ServiceStore::names()
{
    QStringList result;
    const qint64 services = servicesKey(false);
    RegistryStore::Key key;
    for (qint64 i = 0; services && m_store.childAt(services, i, &key); ++i)
        result << key.name;
    return result;
}

bool ServiceStore::readConfig(qint64 key, ServiceConfig* config, QString* description)
{
    RegistryStore::Key row;
    if (!m_store.key(key, &row))
        return false;
    RegistryStore::Value value;
    const auto text = [&](const char* name) {
        return m_store.value(key, QLatin1String(name), &value) ? stringOf(value) : QString();
    };
    const auto number = [&](const char* name, std::uint32_t fallback) {
        return m_store.value(key, QLatin1String(name), &value) ? dwordOf(value, fallback) : fallback;
    };
    config->serviceType = number("Type", SERVICE_WIN32_OWN_PROCESS);
    config->startType = number("Start", SERVICE_DEMAND_START);
    config->errorControl = number("ErrorControl", SERVICE_ERROR_NORMAL);
    config->binaryPathName = text("ImagePath").toStdString();
    config->loadOrderGroup = text("Group").toStdString();
    config->tagId = number("Tag", 0);
    config->dependencies.clear();
    if (m_store.value(key, QStringLiteral("DependOnService"), &value)) {
        for (const QByteArray& item : value.data.split('\0')) {
            if (!item.isEmpty())
                config->dependencies.push_back(item.toStdString());
        }
    }
    config->serviceStartName = text("ObjectName").toStdString();
    const QString display = text("DisplayName");
    config->displayName = (display.isEmpty() ? row.name : display).toStdString();
    if (description)
        *description = text("Description");
    return true;
}

void ServiceStore::writeConfig(qint64 key, const ServiceConfig& config, std::uint32_t mask)
{
    const auto text = [&](const char* name, const std::string& value) {
        if (value.empty())
            m_store.removeValue(key, QLatin1String(name));
        else
            m_store.setValue(key, QLatin1String(name), REG_SZ, stringData(QString::fromStdString(value)));
    };
    if (mask & Type)
        m_store.setValue(key, QStringLiteral("Type"), REG_DWORD, dwordData(config.serviceType));
    if (mask & Start)
        m_store.setValue(key, QStringLiteral("Start"), REG_DWORD, dwordData(config.startType));
    if (mask & ErrorControl)
        m_store.setValue(key, QStringLiteral("ErrorControl"), REG_DWORD, dwordData(config.errorControl));
    if (mask & ImagePath) {
        m_store.setValue(key, QStringLiteral("ImagePath"), REG_EXPAND_SZ,
                         stringData(QString::fromStdString(config.binaryPathName)));
    }
    if (mask & Group)
        text("Group", config.loadOrderGroup);
    if (mask & Dependencies) {
        QStringList list;
        for (const std::string& name : config.dependencies)
            list << QString::fromStdString(name);
        if (list.isEmpty())
            m_store.removeValue(key, QStringLiteral("DependOnService"));
        else
            m_store.setValue(key, QStringLiteral("DependOnService"), REG_MULTI_SZ, multiStringData(list));
    }
    if (mask & ObjectName)
        text("ObjectName", config.serviceStartName.empty() ? std::string("LocalSystem") : config.serviceStartName);
    if (mask & DisplayName)
        text("DisplayName", config.displayName);
}

void ServiceStore::writeDescription(qint64 key, const QString& description)
{
    if (description.isEmpty())
        m_store.removeValue(key, QStringLiteral("Description"));
    else
        m_store.setValue(key, QStringLiteral("Description"), REG_SZ, stringData(description));
}

qint64 ServiceStore::createKey(const QString& name)
{
    const qint64 services = servicesKey(true);
    return services ? m_store.addChild(services, name, false) : 0;
}

void ServiceStore::removeKey(qint64 key)
{
    m_store.removeTree(key);
}

qint64 ServiceStore::keyByDisplayName(const QString& displayName)
{
    const qint64 services = servicesKey(false);
    RegistryStore::Key key;
    RegistryStore::Value value;
    for (qint64 i = 0; services && m_store.childAt(services, i, &key); ++i) {
        const QString shown = m_store.value(key.id, QStringLiteral("DisplayName"), &value) ? stringOf(value) : key.name;
        if (shown.compare(displayName, Qt::CaseInsensitive) == 0)
            return key.id;
    }
    return 0;
}

ServiceRunState ServiceStore::runState(const QString& name, const ServiceBehaviour& behaviour)
{
    ServiceRunState state;
    const QString text = m_store.meta(recordName(name));
    const QJsonObject json = QJsonDocument::fromJson(text.toUtf8()).object();
    if (json.isEmpty()) {
        state.state = state.target = behaviour.initialState;
        return state;
    }
    state.known = true;
    state.state = std::uint32_t(json.value(QStringLiteral("state")).toInt(SERVICE_STOPPED));
    state.target = std::uint32_t(json.value(QStringLiteral("target")).toInt(int(state.state)));
    state.since = qint64(json.value(QStringLiteral("since")).toDouble());
    state.duration = qint64(json.value(QStringLiteral("duration")).toDouble());
    state.exitCode = std::uint32_t(json.value(QStringLiteral("exitCode")).toDouble());
    state.marked = json.value(QStringLiteral("marked")).toBool();
    const QJsonObject holders = json.value(QStringLiteral("holders")).toObject();
    for (auto it = holders.begin(); it != holders.end(); ++it)
        state.holders.insert(it.key(), it.value().toInt());
    return state;
}

void ServiceStore::saveRunState(const QString& name, const ServiceRunState& state)
{
    QJsonObject holders;
    for (auto it = state.holders.begin(); it != state.holders.end(); ++it) {
        // Marks of ended processes go as the record is written.
        if (it.value() > 0 && markRuns(it.key()))
            holders.insert(it.key(), it.value());
    }
    const QJsonObject json{
        {QStringLiteral("state"), int(state.state)},   {QStringLiteral("target"), int(state.target)},
        {QStringLiteral("since"), double(state.since)}, {QStringLiteral("duration"), double(state.duration)},
        {QStringLiteral("exitCode"), double(state.exitCode)}, {QStringLiteral("marked"), state.marked},
        {QStringLiteral("holders"), holders},
    };
    m_store.setMeta(recordName(name), QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)));
}

void ServiceStore::forgetRunState(const QString& name)
{
    // A removed service leaves a stopped record: one made again later starts out stopped.
    m_store.setMeta(recordName(name), QStringLiteral("{\"state\":1}"));
}

QString ServiceStore::lockOwner()
{
    return m_store.meta(QStringLiteral("serviceDatabaseLock"));
}

void ServiceStore::setLockOwner(const QString& owner)
{
    m_store.setMeta(QStringLiteral("serviceDatabaseLock"), owner);
}

QJsonObject ServiceStore::staging()
{
    return QJsonDocument::fromJson(m_store.meta(stagingRecord).toUtf8()).object();
}

void ServiceStore::setStaging(const QJsonObject& table)
{
    m_store.setMeta(stagingRecord, QString::fromUtf8(QJsonDocument(table).toJson(QJsonDocument::Compact)));
}

ServiceBehaviour ServiceStore::behaviour(const MachineProfile& profile, const QString& name)
{
    return serviceBehaviour(profile, name, stagedEntry(staging(), name));
}

ServiceBehaviour ServiceStore::stage(const MachineProfile& profile, const QString& name, const QJsonObject& items,
                                     bool reset)
{
    QJsonObject table = staging();
    QJsonObject entry = reset ? QJsonObject() : stagedEntry(table, name);
    for (const QString& key : table.keys()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            table.remove(key);
    }
    for (auto it = items.begin(); it != items.end(); ++it)
        entry.insert(it.key(), it.value());
    if (!entry.isEmpty())
        table.insert(name, entry);
    setStaging(table);
    const ServiceBehaviour staged = behaviour(profile, name);
    RegistryStore::Key row;
    const qint64 key = serviceKey(name);
    if (key && items.contains(QStringLiteral("state")) && m_store.key(key, &row)) {
        // A service that exists is put into that state now, whatever it was doing.
        ServiceRunState state = runState(row.name, staged);
        state.state = state.target = staged.initialState;
        state.duration = 0;
        state.exitCode = ERROR_SUCCESS;
        saveRunState(row.name, state);
    }
    return staged;
}

} // namespace winsteps::platform::emulated
