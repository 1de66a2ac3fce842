// Test helper: writes registry values into a machine folder and reports each value once
// the call that wrote it has returned.
//
//   regwriter FOLDER PREFIX COUNT
//
// Creates HKEY_CURRENT_USER\Software\Crash\PREFIX and sets "vN" = "PREFIX-N" for N from 0
// to COUNT-1, printing N on a line of its own after each successful write.

#include "platform/emulated/emulatedmachine.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace winsteps::platform;

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: regwriter FOLDER PREFIX COUNT\n");
        return 2;
    }
    QString error;
    auto machine = emulated::EmulatedMachine::openFolder(QString(), QString::fromLocal8Bit(argv[1]), &error);
    if (!machine) {
        std::fprintf(stderr, "regwriter: %s\n", qPrintable(error));
        return 1;
    }
    const std::string prefix = argv[2];
    const int count = std::atoi(argv[3]);
    HKEY key = HKEY_NULL;
    std::uint32_t code = machine->registry().regCreateKeyEx(HKEY_CURRENT_USER, "Software\\Crash\\" + prefix,
                                                 REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, &key, nullptr);
    if (code != ERROR_SUCCESS) {
        std::fprintf(stderr, "regwriter: cannot create the key: %u\n", code);
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const std::string data = prefix + "-" + std::to_string(i);
        code = machine->registry().regSetValueEx(key, "v" + std::to_string(i), REG_SZ,
                                      reinterpret_cast<const std::uint8_t*>(data.c_str()), std::uint32_t(data.size() + 1));
        if (code != ERROR_SUCCESS) {
            std::fprintf(stderr, "regwriter: value %d: error %u\n", i, code);
            return 1;
        }
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
    machine->registry().regCloseKey(key);
    return 0;
}
