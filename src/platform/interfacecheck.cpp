// Built with no include path but src/ and the export header's folder, and without Qt: it
// fails to compile as soon as an interface header needs anything beyond the standard library.

#include "platform/com.h"
#include "platform/common.h"
#include "platform/devices.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/fileversion.h"
#include "platform/firewall.h"
#include "platform/netsharing.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/dmdev.h"
#include "platform/driverpackages.h"
