#include "netdev/cdmdevice.h"

#include "debug/debugoutput.h"
#include "platform/dmdev.h"

#include <QByteArray>

namespace dm = winsteps::platform;

namespace {

const QString nullText = QStringLiteral("null");

// Texts cross the module as 8-bit UTF-8.
QByteArray bytes(const QString& text)
{
    return text.toUtf8();
}

QString textOf(const char* buffer)
{
    return QString::fromUtf8(buffer, qsizetype(qstrnlen(buffer, CDMDevice::slotSize)));
}

void traceLine(const QString& text)
{
    winsteps::trace(winsteps::module::DMDevice, text + QLatin1Char('\n'));
}

} // namespace

CDMDevice::CDMDevice()
    : CPropertyObject(nullptr, "null")
{
}

CDMDevice::CDMDevice(const CDMDevice& other)
    : CPropertyObject(nullptr, nullptr)
    , m_instanceId(other.m_instanceId)
    , m_host(other.m_host)
    , m_type(other.m_type)
{
    setObjectName(other.objectName());
}

CDMDevice::CDMDevice(const QString& instanceId, const QString& host)
    : CPropertyObject(nullptr, nullptr)
    , m_instanceId(instanceId)
    , m_host(host)
{
    const QString name = friendlyName();
    setObjectName(name.isEmpty() ? description() : name);
}

CDMDevice::~CDMDevice() = default;

CPropertyObject* CDMDevice::clone() const
{
    return new CDMDevice(*this);
}

bool CDMDevice::isNull() const
{
    return m_instanceId.isEmpty() || status() == -1;
}

QString CDMDevice::text(Text which) const
{
    if (isNull())
        return nullText;
    const QByteArray id = bytes(m_instanceId);
    const QByteArray host = bytes(m_host);
    const bool remote = !m_host.isEmpty();
    char buffer[slotSize] = {};
    std::uint32_t size = slotSize;
    std::uint32_t result = dm::DMDEV_ERROR_FAILED;
    switch (which) {
    case Text::Description:
        result = remote ? dm::DMDEV_GetDeviceDescriptionRemote(id.constData(), host.constData(), buffer, &size)
                        : dm::DMDEV_GetDeviceDescription(id.constData(), buffer, &size);
        break;
    case Text::FriendlyName:
        result = remote ? dm::DMDEV_GetFriendlyNameRemote(id.constData(), host.constData(), buffer, &size)
                        : dm::DMDEV_GetFriendlyName(id.constData(), buffer, &size);
        break;
    case Text::ClassGuid:
        result = remote ? dm::DMDEV_GetClassGUIDRemote(id.constData(), host.constData(), buffer, &size)
                        : dm::DMDEV_GetClassGUID(id.constData(), buffer, &size);
        break;
    case Text::HardwareId:
        result = remote ? dm::DMDEV_GetHardwareIDRemote(id.constData(), host.constData(), buffer, &size)
                        : dm::DMDEV_GetHardwareID(id.constData(), buffer, &size);
        break;
    case Text::DriverKey:
        result = remote ? dm::DMDEV_GetDriverKeyRemote(id.constData(), host.constData(), buffer, &size)
                        : dm::DMDEV_GetDriverKey(id.constData(), buffer, &size);
        break;
    case Text::ServiceName:
        result = remote ? dm::DMDEV_GetServiceNameRemote(id.constData(), host.constData(), buffer, &size)
                        : dm::DMDEV_GetServiceName(id.constData(), buffer, &size);
        break;
    }
    return result == 0 ? textOf(buffer) : QString();
}

QString CDMDevice::description() const
{
    return text(Text::Description);
}

QString CDMDevice::friendlyName() const
{
    return text(Text::FriendlyName);
}

void CDMDevice::setFriendlyName(const QString& name)
{
    if (isNull())
        return;
    if (m_host.isEmpty())
        dm::DMDEV_SetFriendlyName(bytes(m_instanceId).constData(), bytes(name).constData());
    else
        dm::DMDEV_SetFriendlyNameRemote(bytes(m_instanceId).constData(), bytes(m_host).constData(), bytes(name).constData());
}

QString CDMDevice::classGuid() const
{
    return text(Text::ClassGuid);
}

QString CDMDevice::hardwareId() const
{
    return text(Text::HardwareId);
}

QString CDMDevice::driverKey() const
{
    return text(Text::DriverKey);
}

QString CDMDevice::serviceName() const
{
    return text(Text::ServiceName);
}

void CDMDevice::readStatus(int* status, int* problem) const
{
    // The module leaves what it cannot tell untouched; its result is not needed beyond that.
    std::int32_t s = -1;
    std::int32_t p = -1;
    if (!m_instanceId.isEmpty()) {
        if (m_host.isEmpty())
            dm::DMDEV_GetStatus(bytes(m_instanceId).constData(), &s, &p);
        else
            dm::DMDEV_GetStatusRemote(bytes(m_instanceId).constData(), bytes(m_host).constData(), &s, &p);
    }
    *status = s;
    *problem = p;
}

int CDMDevice::status() const
{
    int s, p;
    readStatus(&s, &p);
    return s;
}

int CDMDevice::problem() const
{
    int s, p;
    readStatus(&s, &p);
    return p;
}

QString CDMDevice::problemDescription() const
{
    if (isNull())
        return nullText;
    char buffer[slotSize] = {};
    dm::DMDEV_ProblemCodeToString(problem(), buffer);
    return textOf(buffer);
}

CDMDevice::eType CDMDevice::type() const
{
    return m_type;
}

void CDMDevice::setType(eType type)
{
    m_type = isNull() ? eUnknown : type;
}

int CDMDevice::enumerate(const CGUID& deviceClass, std::vector<std::unique_ptr<CDMDevice>>& devices, bool present,
                         const QString& host, const QString& enumerator)
{
    const bool byEnumerator = deviceClass.isNull();
    if (byEnumerator && enumerator.isEmpty())
        return -1;
    const dm::GUID* classValue = byEnumerator ? nullptr : &deviceClass.value();
    const QByteArray name = bytes(enumerator);
    const char* enumeratorName = byEnumerator ? name.constData() : nullptr;
    const QByteArray hostName = bytes(host);
    const auto call = [&](char* buffer, std::uint16_t* count) {
        return host.isEmpty()
            ? dm::DMDEV_Enumerate(classValue, buffer, count, present ? 1 : 0, enumeratorName)
            : dm::DMDEV_EnumerateRemote(hostName.constData(), classValue, buffer, count, present ? 1 : 0, enumeratorName);
    };
    std::uint16_t count = 0;
    std::uint32_t result = call(nullptr, &count);
    if (result != 0)
        return int(result);
    if (count == 0)
        return -1;
    // A device may come or go between the two calls: never read past the slots allocated.
    const std::uint16_t capacity = count;
    QByteArray buffer(qsizetype(capacity) * slotSize, '\0');
    result = call(buffer.data(), &count);
    if (result != 0)
        return int(result);
    for (int i = 0; i < qMin(count, capacity); ++i)
        devices.push_back(std::make_unique<CDMDevice>(textOf(buffer.constData() + i * slotSize), host));
    return 0;
}

bool CDMDevice::preInstallDriver(const QString& installFile, const QString& installDirectory)
{
    traceLine(QLatin1String("DMDEV_PreInstallDriver installFile = ") + installFile);
    traceLine(QLatin1String("DMDEV_PreInstallDriver installDir  = ") + installDirectory);
    const std::uint32_t result = dm::DMDEV_PreInstallDriver(bytes(installFile).constData(), bytes(installDirectory).constData());
    traceLine(QLatin1String("DMDEV_PreInstallDriver returned ") + QString::number(result));
    return result == 0;
}

bool CDMDevice::installDriver(const QString& infPath)
{
    if (!m_host.isEmpty())
        return false;
    return dm::DMDEV_InstallDriver(bytes(m_instanceId).constData(), bytes(infPath).constData()) == 0;
}

bool CDMDevice::removeDevice()
{
    if (!m_host.isEmpty())
        return false;
    return dm::DMDEV_RemoveDevice(bytes(m_instanceId).constData()) == 0;
}
