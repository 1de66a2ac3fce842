// Test helper: a second process on a machine folder, using its service control manager.
//
//   servicetool FOLDER status NAME   prints the service's state number
//   servicetool FOLDER lock          takes the database lock, prints "locked", then waits
//                                    (until it is killed) without releasing it

#include "platform/emulated/emulatedmachine.h"

#include <cstdio>
#include <string>
#include <thread>

using namespace winsteps::platform;

int main(int argc, char* argv[])
{
    const std::string command = argc > 2 ? argv[2] : "";
    if (!((command == "status" && argc == 4) || (command == "lock" && argc == 3))) {
        std::fprintf(stderr, "usage: servicetool FOLDER status NAME | servicetool FOLDER lock\n");
        return 2;
    }
    QString error;
    auto machine = emulated::EmulatedMachine::openExisting(QString::fromLocal8Bit(argv[1]), &error);
    if (!machine) {
        std::fprintf(stderr, "servicetool: %s\n", qPrintable(error));
        return 1;
    }
    Services& scm = machine->services();
    SC_HANDLE manager = SC_HANDLE_NULL;
    std::uint32_t code = scm.openSCManager("", "", SC_MANAGER_ALL_ACCESS, &manager);
    if (code == ERROR_SUCCESS && command == "lock") {
        SC_LOCK lock = 0;
        code = scm.lockServiceDatabase(manager, &lock);
        if (code == ERROR_SUCCESS) {
            std::printf("locked\n");
            std::fflush(stdout);
            for (;;)
                std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    } else if (code == ERROR_SUCCESS) {
        SC_HANDLE service = SC_HANDLE_NULL;
        ServiceStatus status;
        code = scm.openService(manager, argv[3], SERVICE_QUERY_STATUS, &service);
        if (code == ERROR_SUCCESS)
            code = scm.queryServiceStatus(service, &status);
        if (code == ERROR_SUCCESS)
            std::printf("%u\n", status.currentState);
        scm.closeServiceHandle(service);
    }
    scm.closeServiceHandle(manager);
    if (code != ERROR_SUCCESS)
        std::fprintf(stderr, "servicetool: error %u\n", code);
    return code == ERROR_SUCCESS ? 0 : 1;
}
