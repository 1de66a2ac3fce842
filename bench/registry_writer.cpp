// One of the concurrent writers of the registry benchmark: opens the emulated machine in
// the folder given, writes its share of values below a key of its own and exits with the
// number of failed writes (0: all stored).
//
//   bench_registry_writer FOLDER WRITER COUNT
//
// COUNT 0: writes the value "counter" with 1, 2, 3, ... until it is killed, printing each
// number on stdout once its write has returned success.

#include "platform/emulated/machinefolder.h"
#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace wp = winsteps::platform;

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_registry_writer FOLDER WRITER COUNT\n");
        return 100;
    }
    std::string error;
    if (!wp::emulated::openMachine(wp::emulated::defaultProfileName(), argv[1], &error)) {
        std::fprintf(stderr, "cannot open the machine: %s\n", error.c_str());
        return 101;
    }
    wp::Registry& machine = wp::registry();
    const std::string subKey = std::string("SOFTWARE\\Bench\\Writer") + argv[2];
    wp::HKEY key = 0;
    if (machine.regCreateKeyEx(wp::HKEY_LOCAL_MACHINE, subKey, wp::REG_OPTION_NON_VOLATILE, wp::KEY_ALL_ACCESS,
                               &key, nullptr)
        != wp::ERROR_SUCCESS) {
        std::fprintf(stderr, "cannot create %s\n", subKey.c_str());
        return 102;
    }
    const int count = std::atoi(argv[3]);
    if (count == 0) {
        for (std::uint32_t i = 1;; ++i) {
            if (machine.regSetValueEx(key, "counter", wp::REG_DWORD, reinterpret_cast<const std::uint8_t*>(&i), 4)
                != wp::ERROR_SUCCESS)
                return 1;
            std::printf("%u\n", i);
            std::fflush(stdout);
        }
    }
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t data = std::uint32_t(i);
        const std::uint32_t result = machine.regSetValueEx(key, "value" + std::to_string(i % 50), wp::REG_DWORD,
                                                           reinterpret_cast<const std::uint8_t*>(&data), 4);
        if (result != wp::ERROR_SUCCESS) {
            std::fprintf(stderr, "write %d failed with %u\n", i, result);
            ++failures;
        }
    }
    machine.regCloseKey(key);
    return failures > 99 ? 99 : failures;
}
