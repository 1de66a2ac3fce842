// devprep.exe: the platform layer's devprep as a Windows program. The command line is read
// as wide characters and handed on in UTF-8, the texts of the platform interface.

#include "platform/devprep.h"

#include <windows.h>
#include <shellapi.h>

#include <iostream>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string result(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(std::size_t(size) - 1);
    return result;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!words)
        return winsteps::platform::DevprepUsage;
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(utf8(words[i]));
    LocalFree(words);
    const int code = winsteps::platform::runDevprep(arguments, std::cout);
    std::cout.flush();
    return code;
}
