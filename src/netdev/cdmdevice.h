#pragma once

#include "netdev/cguid.h"
#include "objects/cpropertyobject.h"
#include "winsteps_export.h"

#include <memory>
#include <vector>

// One device node of the device manager, on this computer or on a named remote host,
// known by its device instance identifier. Its properties show what the device manager
// knows of the node; each read asks the device-manager module (platform/dmdev.h) anew.
//
// A device is null when its instance id is empty or its status reads -1 (the module does
// not know it): every text property of a null device reads "null". Install and remove work
// on this computer only; a remote device answers false without asking the module.
class WINSTEPS_EXPORT CDMDevice : public CPropertyObject
{
    Q_OBJECT
    Q_PROPERTY(QString INSTANCE_ID READ instanceId)
    Q_PROPERTY(QString HOST READ host)
    Q_PROPERTY(QString DESCRIPTION READ description)
    Q_PROPERTY(QString FRIENDLY_NAME READ friendlyName WRITE setFriendlyName)
    Q_PROPERTY(QString CLASS_GUID READ classGuid)
    Q_PROPERTY(int STATUS READ status)
    Q_PROPERTY(int PROBLEM READ problem)
    Q_PROPERTY(QString PROBLEM_DESCRIPTION READ problemDescription)
    Q_PROPERTY(QString HARDWARE_ID READ hardwareId)
    Q_PROPERTY(QString DRIVER_KEY READ driverKey)
    Q_PROPERTY(QString SERVICE_NAME READ serviceName)
    Q_PROPERTY(eType TYPE READ type WRITE setType)
public:
    // A classification the user of the object sets; eUnknown on a null device.
    enum eType {
        eUnknown = 0,
        eUsbAdaptor = 1,
        eNetworkAdaptorEth = 2,
        eNetworkAdaptorUsb = 3,
        eNetworkAdaptorWireless = 4,
    };
    Q_ENUM(eType)

    // The size of every text slot the module fills.
    static constexpr int slotSize = 260;

    // A null device named "null".
    CDMDevice();
    // Copies instance id, host, type and object name.
    CDMDevice(const CDMDevice& other);
    // Named after the node's friendly name, or its description when that is empty.
    CDMDevice(const QString& instanceId, const QString& host);
    ~CDMDevice() override;
    CDMDevice& operator=(const CDMDevice&) = delete;

    CPropertyObject* clone() const override;
    virtual bool isNull() const;

    QString instanceId() const { return m_instanceId; }
    QString host() const { return m_host; }
    QString description() const;
    QString friendlyName() const;
    // Writes the name through the module; ignored on a null device.
    void setFriendlyName(const QString& name);
    QString classGuid() const;
    int status() const;
    int problem() const;
    QString problemDescription() const;
    QString hardwareId() const;
    QString driverKey() const;
    QString serviceName() const;
    eType type() const;
    // On a null device stores eUnknown.
    void setType(eType type);

    // Appends the devices of class (or, with the null class, of enumerator) to devices.
    // 0 on success; -1 for the null class with an empty enumerator and when no device
    // matches; otherwise the module's result. devices is left alone unless 0 is returned.
    static int enumerate(const CGUID& deviceClass, std::vector<std::unique_ptr<CDMDevice>>& devices,
                         bool present, const QString& host, const QString& enumerator);
    // Pre-installs the driver package of installFile (traced); true when the module returns 0.
    static bool preInstallDriver(const QString& installFile, const QString& installDirectory);
    // Installs the pre-installed driver of infPath on this node.
    bool installDriver(const QString& infPath);
    // Removes this node and its children.
    bool removeDevice();

private:
    enum class Text { Description, FriendlyName, ClassGuid, HardwareId, DriverKey, ServiceName };
    QString text(Text which) const;
    void readStatus(int* status, int* problem) const;

    QString m_instanceId;
    QString m_host;
    eType m_type = eUnknown;
    quint32 m_reserved = 0;
};
