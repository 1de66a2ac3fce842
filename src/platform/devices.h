#pragma once

#include "platform/com.h" // GUID
#include "platform/common.h"
#include "winsteps_platform_export.h"

#include <cstdint>
#include <string>
#include <vector>

// The devices subsystem of the Windows system interface: the device tree as the setup and
// configuration-manager calls see it (SetupDiGetClassDevs and its enumerations, CM_Locate_DevNode,
// CM_Get_Parent, CM_Get_Child, CM_Get_Device_ID, CM_Get_DevNode_Status and the device registry
// properties). Plain C++ only, like every interface header (see common.h).
//
// A device node is named by its device instance identifier ("PCI\VEN_8086&DEV_100E&...\3&...").
// Identifiers are matched without regard to case, as the configuration manager does; every
// answer gives the identifier as the system spells it. Nothing is held between calls: a node
// that goes between two calls is simply no longer found by the second one.

namespace winsteps::platform {

// The configuration manager's result codes (CONFIGRET), with their Windows values.
using CONFIGRET = std::uint32_t;
inline constexpr CONFIGRET CR_SUCCESS = 0x00;
inline constexpr CONFIGRET CR_OUT_OF_MEMORY = 0x02;
inline constexpr CONFIGRET CR_INVALID_POINTER = 0x03;
inline constexpr CONFIGRET CR_INVALID_FLAG = 0x04;
inline constexpr CONFIGRET CR_INVALID_DEVNODE = 0x05;
inline constexpr CONFIGRET CR_NO_SUCH_DEVNODE = 0x0D;
inline constexpr CONFIGRET CR_ALREADY_SUCH_DEVNODE = 0x10;
inline constexpr CONFIGRET CR_FAILURE = 0x13;
inline constexpr CONFIGRET CR_REMOVE_VETOED = 0x17;
inline constexpr CONFIGRET CR_BUFFER_SMALL = 0x1A;
inline constexpr CONFIGRET CR_REGISTRY_ERROR = 0x1D;
inline constexpr CONFIGRET CR_INVALID_DEVICE_ID = 0x1E;
inline constexpr CONFIGRET CR_INVALID_DATA = 0x1F;
inline constexpr CONFIGRET CR_NO_SUCH_VALUE = 0x25;
inline constexpr CONFIGRET CR_INVALID_PROPERTY = 0x35;
inline constexpr CONFIGRET CR_ACCESS_DENIED = 0x33;
inline constexpr CONFIGRET CR_CALL_NOT_IMPLEMENTED = 0x34;
inline constexpr CONFIGRET CR_NO_SUCH_DEVICE_INTERFACE = 0x37;

// Win32 error codes of the setup calls (the common ones are in common.h).
inline constexpr std::uint32_t ERROR_INVALID_FLAGS = 1004;
inline constexpr std::uint32_t ERROR_NO_SUCH_DEVINST = 0xE000020B;
inline constexpr std::uint32_t ERROR_INVALID_CLASS = 0xE0000209;

// SetupDiGetClassDevs flags.
inline constexpr std::uint32_t DIGCF_DEFAULT = 0x01;
inline constexpr std::uint32_t DIGCF_PRESENT = 0x02;
inline constexpr std::uint32_t DIGCF_ALLCLASSES = 0x04;
inline constexpr std::uint32_t DIGCF_PROFILE = 0x08;
inline constexpr std::uint32_t DIGCF_DEVICEINTERFACE = 0x10;

// CM_Locate_DevNode flags: a present node only, or any node the system knows of.
inline constexpr std::uint32_t CM_LOCATE_DEVNODE_NORMAL = 0x0;
inline constexpr std::uint32_t CM_LOCATE_DEVNODE_PHANTOM = 0x1;

// The device registry properties (CM_DRP_*; the SetupDi SPDRP_* value is one less).
inline constexpr std::uint32_t CM_DRP_DEVICEDESC = 0x01;   // text
inline constexpr std::uint32_t CM_DRP_HARDWAREID = 0x02;   // list
inline constexpr std::uint32_t CM_DRP_COMPATIBLEIDS = 0x03; // list
inline constexpr std::uint32_t CM_DRP_SERVICE = 0x05;      // text
inline constexpr std::uint32_t CM_DRP_CLASS = 0x08;        // text
inline constexpr std::uint32_t CM_DRP_CLASSGUID = 0x09;    // text "{...}" (Windows writes lower case)
inline constexpr std::uint32_t CM_DRP_DRIVER = 0x0A;       // text "{class}\NNNN"
inline constexpr std::uint32_t CM_DRP_MFG = 0x0C;          // text
inline constexpr std::uint32_t CM_DRP_FRIENDLYNAME = 0x0D; // text, read and write
inline constexpr std::uint32_t CM_DRP_LOCATION_INFORMATION = 0x0E; // text
inline constexpr std::uint32_t CM_DRP_ENUMERATOR_NAME = 0x17; // text ("PCI", "USB", ...)

// CM_Get_DevNode_Status: the status bits of a node (DN_*)...
inline constexpr std::uint32_t DN_ROOT_ENUMERATED = 0x00000001;
inline constexpr std::uint32_t DN_DRIVER_LOADED = 0x00000002;
inline constexpr std::uint32_t DN_ENUM_LOADED = 0x00000004;
inline constexpr std::uint32_t DN_STARTED = 0x00000008;
inline constexpr std::uint32_t DN_MANUAL = 0x00000010;
inline constexpr std::uint32_t DN_NEED_TO_ENUM = 0x00000020;
inline constexpr std::uint32_t DN_NOT_FIRST_TIME = 0x00000040;
inline constexpr std::uint32_t DN_HARDWARE_ENUM = 0x00000080;
inline constexpr std::uint32_t DN_HAS_MARK = 0x00000200;
inline constexpr std::uint32_t DN_HAS_PROBLEM = 0x00000400;
inline constexpr std::uint32_t DN_FILTERED = 0x00000800;
inline constexpr std::uint32_t DN_MOVED = 0x00001000;
inline constexpr std::uint32_t DN_DISABLEABLE = 0x00002000;
inline constexpr std::uint32_t DN_REMOVABLE = 0x00004000;
inline constexpr std::uint32_t DN_PRIVATE_PROBLEM = 0x00008000;
inline constexpr std::uint32_t DN_MF_PARENT = 0x00010000;
inline constexpr std::uint32_t DN_MF_CHILD = 0x00020000;
inline constexpr std::uint32_t DN_WILL_BE_REMOVED = 0x00040000;
inline constexpr std::uint32_t DN_NT_ENUMERATOR = 0x00800000;
inline constexpr std::uint32_t DN_NT_DRIVER = 0x01000000;

// ...and its problem codes (CM_PROB_*; 0 is none).
inline constexpr std::uint32_t CM_PROB_NOT_CONFIGURED = 0x01;
inline constexpr std::uint32_t CM_PROB_DEVLOADER_FAILED = 0x02;
inline constexpr std::uint32_t CM_PROB_OUT_OF_MEMORY = 0x03;
inline constexpr std::uint32_t CM_PROB_ENTRY_IS_WRONG_TYPE = 0x04;
inline constexpr std::uint32_t CM_PROB_LACKED_ARBITRATOR = 0x05;
inline constexpr std::uint32_t CM_PROB_BOOT_CONFIG_CONFLICT = 0x06;
inline constexpr std::uint32_t CM_PROB_FAILED_FILTER = 0x07;
inline constexpr std::uint32_t CM_PROB_DEVLOADER_NOT_FOUND = 0x08;
inline constexpr std::uint32_t CM_PROB_INVALID_DATA = 0x09;
inline constexpr std::uint32_t CM_PROB_FAILED_START = 0x0A;
inline constexpr std::uint32_t CM_PROB_LIAR = 0x0B;
inline constexpr std::uint32_t CM_PROB_NORMAL_CONFLICT = 0x0C;
inline constexpr std::uint32_t CM_PROB_NOT_VERIFIED = 0x0D;
inline constexpr std::uint32_t CM_PROB_NEED_RESTART = 0x0E;
inline constexpr std::uint32_t CM_PROB_REENUMERATION = 0x0F;
inline constexpr std::uint32_t CM_PROB_PARTIAL_LOG_CONF = 0x10;
inline constexpr std::uint32_t CM_PROB_UNKNOWN_RESOURCE = 0x11;
inline constexpr std::uint32_t CM_PROB_REINSTALL = 0x12;
inline constexpr std::uint32_t CM_PROB_REGISTRY = 0x13;
inline constexpr std::uint32_t CM_PROB_WILL_BE_REMOVED = 0x15;
inline constexpr std::uint32_t CM_PROB_DISABLED = 0x16;
inline constexpr std::uint32_t CM_PROB_DEVICE_NOT_THERE = 0x18;
inline constexpr std::uint32_t CM_PROB_MOVED = 0x19;
inline constexpr std::uint32_t CM_PROB_TOO_EARLY = 0x1A;
inline constexpr std::uint32_t CM_PROB_NO_VALID_LOG_CONF = 0x1B;
inline constexpr std::uint32_t CM_PROB_FAILED_INSTALL = 0x1C;
inline constexpr std::uint32_t CM_PROB_HARDWARE_DISABLED = 0x1D;
inline constexpr std::uint32_t CM_PROB_CANT_SHARE_IRQ = 0x1E;
inline constexpr std::uint32_t CM_PROB_FAILED_ADD = 0x1F;
inline constexpr std::uint32_t CM_PROB_DISABLED_SERVICE = 0x20;
inline constexpr std::uint32_t CM_PROB_TRANSLATION_FAILED = 0x21;
inline constexpr std::uint32_t CM_PROB_NO_SOFTCONFIG = 0x22;
inline constexpr std::uint32_t CM_PROB_BIOS_TABLE = 0x23;
inline constexpr std::uint32_t CM_PROB_IRQ_TRANSLATION_FAILED = 0x24;
inline constexpr std::uint32_t CM_PROB_FAILED_DRIVER_ENTRY = 0x25;
inline constexpr std::uint32_t CM_PROB_DRIVER_FAILED_PRIOR_UNLOAD = 0x26;
inline constexpr std::uint32_t CM_PROB_DRIVER_FAILED_LOAD = 0x27;
inline constexpr std::uint32_t CM_PROB_DRIVER_SERVICE_KEY_INVALID = 0x28;
inline constexpr std::uint32_t CM_PROB_LEGACY_SERVICE_NO_DEVICES = 0x29;
inline constexpr std::uint32_t CM_PROB_DUPLICATE_DEVICE = 0x2A;
inline constexpr std::uint32_t CM_PROB_FAILED_POST_START = 0x2B;
inline constexpr std::uint32_t CM_PROB_HALTED = 0x2C;
inline constexpr std::uint32_t CM_PROB_PHANTOM = 0x2D;
inline constexpr std::uint32_t CM_PROB_SYSTEM_SHUTDOWN = 0x2E;
inline constexpr std::uint32_t CM_PROB_HELD_FOR_EJECT = 0x2F;
inline constexpr std::uint32_t CM_PROB_DRIVER_BLOCKED = 0x30;

// Device setup classes and device interface classes.
inline constexpr GUID GUID_DEVCLASS_NET = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr GUID GUID_DEVCLASS_USB = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_DEVCLASS_DISKDRIVE = {0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr GUID GUID_DEVCLASS_CDROM = {0x4D36E965, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr GUID GUID_DEVCLASS_VOLUME = {0x71A27CDD, 0x812A, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
inline constexpr GUID GUID_DEVCLASS_SYSTEM = {0x4D36E97D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr GUID GUID_DEVCLASS_HDC = {0x4D36E96A, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr GUID GUID_DEVCLASS_COMPUTER = {0x4D36E966, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// The volumes' interface (the mount manager's mounted devices), and the disks'.
inline constexpr GUID GUID_DEVINTERFACE_VOLUME = {0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID GUID_DEVINTERFACE_DISK = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// One device interface: SetupDiGetDeviceInterfaceDetail's device path ("\\?\...#{class}") and
// the instance identifier of the node that exposes it.
struct DeviceInterface {
    std::string devicePath;
    std::string instanceId;
};

// The device tree of one Windows machine as seen from the running process. Every method may
// be called from any thread.
class WINSTEPS_PLATFORM_EXPORT Devices {
public:
    virtual ~Devices();

    // SetupDiGetClassDevs(classGuid, enumerator, flags) enumerated with
    // SetupDiGetDeviceInstanceId: the instance identifiers of the nodes of that setup class
    // (of every class with DIGCF_ALLCLASSES or a null classGuid) whose enumerator is the given
    // one (any case: "PCI", "USB", "ROOT", "USBSTOR", "STORAGE"; every enumerator when empty),
    // the present ones only with DIGCF_PRESENT, in the order the system lists them (the
    // emulated machine: parents before their children). An enumerator that names no node gives
    // an empty list. ERROR_SUCCESS with *instanceIds
    // replaced; ERROR_INVALID_FLAGS for DIGCF_DEVICEINTERFACE or an unknown flag bit.
    virtual std::uint32_t classDevices(const GUID* classGuid, const std::string& enumerator, std::uint32_t flags,
                                       std::vector<std::string>* instanceIds) = 0;
    // SetupDiGetClassDevs(interfaceClass, no enumerator, DIGCF_DEVICEINTERFACE | flags) walked
    // with SetupDiEnumDeviceInterfaces and SetupDiGetDeviceInterfaceDetail: the interfaces of
    // that class with their device path and node (DIGCF_PRESENT: of present nodes only).
    // ERROR_SUCCESS with *interfaces replaced (maybe empty).
    virtual std::uint32_t deviceInterfaces(const GUID& interfaceClass, std::uint32_t flags,
                                           std::vector<DeviceInterface>* interfaces) = 0;

    // CM_Locate_DevNode: CR_SUCCESS when the node exists (and is present, unless
    // CM_LOCATE_DEVNODE_PHANTOM), else CR_NO_SUCH_DEVNODE; CR_INVALID_DEVICE_ID for a malformed
    // identifier. An empty identifier names the root of the tree, here and in every call below.
    // *found (may be null) gets the system's spelling.
    virtual CONFIGRET locateDevNode(const std::string& instanceId, std::uint32_t flags, std::string* found) = 0;
    // CM_Get_Parent + CM_Get_Device_ID: the parent's identifier; CR_NO_SUCH_DEVNODE for the
    // root of the tree or an unknown node.
    virtual CONFIGRET parent(const std::string& instanceId, std::string* parentId) = 0;
    // CM_Get_Child + CM_Get_Sibling: the identifiers of the node's children in order (present
    // ones only, as the configuration manager walks them).
    virtual CONFIGRET children(const std::string& instanceId, std::vector<std::string>* childIds) = 0;
    // CM_Get_DevNode_Status: DN_* bits and a CM_PROB_* code (0 when the node has no problem).
    // CR_NO_SUCH_DEVNODE for a node that is unknown or not present; outputs set on success only.
    virtual CONFIGRET devNodeStatus(const std::string& instanceId, std::uint32_t* status, std::uint32_t* problem) = 0;
    // CM_Get_DevNode_Registry_Property for a text property (CM_DRP_DEVICEDESC, _SERVICE,
    // _CLASS, _CLASSGUID, _DRIVER, _MFG, _FRIENDLYNAME, _LOCATION_INFORMATION,
    // _ENUMERATOR_NAME). CR_NO_SUCH_VALUE when the node has none (a node without a driver has
    // no CM_DRP_DRIVER); CR_INVALID_PROPERTY for a list property or an unknown one;
    // CR_NO_SUCH_DEVNODE for an unknown node. *value set on success only.
    virtual CONFIGRET textProperty(const std::string& instanceId, std::uint32_t property, std::string* value) = 0;
    // The same for a list property (CM_DRP_HARDWAREID, CM_DRP_COMPATIBLEIDS), in order.
    virtual CONFIGRET listProperty(const std::string& instanceId, std::uint32_t property,
                                   std::vector<std::string>* values) = 0;
    // CM_Set_DevNode_Registry_Property(CM_DRP_FRIENDLYNAME): an empty name removes it.
    virtual CONFIGRET setFriendlyName(const std::string& instanceId, const std::string& name) = 0;

    // A number that changes whenever the device tree changes (a node arrives, goes, gets a
    // driver or another status); cheap enough to poll. Two equal readings mean no change in
    // between. Where the system offers no such count it stays 0.
    virtual std::uint64_t changeCount() = 0;
};

// The device tree of this process's machine.
WINSTEPS_PLATFORM_EXPORT Devices& devices();

} // namespace winsteps::platform
