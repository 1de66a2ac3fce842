#include "platform/process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <string.h>
#endif

namespace winsteps::platform {

void secureWipe(void* data, std::size_t size)
{
    if (data && size > 0) {
#ifdef _WIN32
        ::SecureZeroMemory(data, size);
#else
        explicit_bzero(data, size);
#endif
    }
}

ProcessHandle::~ProcessHandle() = default;

Processes::~Processes() = default;

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::string buildCommandLine(const std::string& program, const std::vector<std::string>& arguments)
{
    const bool quote = program.find_first_of(" \t") != std::string::npos && program.find('"') == std::string::npos;
    std::string line = quote ? '"' + program + '"' : program;
    for (const std::string& argument : arguments)
        line += ' ' + argument;
    return line;
}

std::vector<std::string> commandLineToArgv(const std::string& commandLine)
{
    std::vector<std::string> argv;
    const std::size_t n = commandLine.size();
    std::size_t i = 0;
    while (i < n && isBlank(commandLine[i]))
        ++i;
    if (i == n)
        return argv;

    // The program: no escapes, a quote only groups.
    std::string program;
    if (commandLine[i] == '"') {
        for (++i; i < n && commandLine[i] != '"'; ++i)
            program += commandLine[i];
        if (i < n)
            ++i;
    } else {
        for (; i < n && !isBlank(commandLine[i]); ++i)
            program += commandLine[i];
    }
    argv.push_back(program);

    for (;;) {
        while (i < n && isBlank(commandLine[i]))
            ++i;
        if (i == n)
            break;
        std::string argument;
        int quotes = 0; // odd: inside quotes
        while (i < n && (quotes != 0 || !isBlank(commandLine[i]))) {
            const char c = commandLine[i];
            if (c == '\\') {
                std::size_t backslashes = 0;
                for (; i < n && commandLine[i] == '\\'; ++i)
                    ++backslashes;
                const bool beforeQuote = i < n && commandLine[i] == '"';
                argument.append(beforeQuote ? backslashes / 2 : backslashes, '\\');
                if (beforeQuote && backslashes % 2 == 1) {
                    argument += '"';
                    ++i;
                }
            } else if (c == '"') {
                ++quotes;
                for (++i; i < n && commandLine[i] == '"'; ++i) {
                    if (++quotes == 3) {
                        argument += '"';
                        quotes = 0;
                    }
                }
                if (quotes == 2)
                    quotes = 0;
            } else {
                argument += c;
                ++i;
            }
        }
        argv.push_back(argument);
    }
    return argv;
}

} // namespace winsteps::platform
