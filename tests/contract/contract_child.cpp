// A program for the process contract tests to start; plain C++ so that it builds for every
// backend.
//   contract_child exit CODE               ends with CODE (decimal, may exceed 255)
//   contract_child sleep MILLISECONDS      waits, then ends with 0
//   contract_child report FILE ARGS...     writes each argument, then the value of the
//                                          variable CONTRACT_VALUE, one per line, into FILE

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit" && argc == 3)
        return int(std::strtoul(argv[2], nullptr, 0));
    if (mode == "sleep" && argc == 3) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::strtoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (mode == "report" && argc >= 3) {
        std::ofstream out(argv[2], std::ios::binary);
        for (int i = 3; i < argc; ++i)
            out << argv[i] << '\n';
        const char* value = std::getenv("CONTRACT_VALUE");
        out << (value ? value : "(unset)") << '\n';
        return out.good() ? 0 : 2;
    }
    return 1;
}
