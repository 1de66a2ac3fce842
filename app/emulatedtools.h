#pragma once

#include <QList>
#include <QStringList>

#include <cstdint>

namespace winsteps::host {

// An emulated Windows system program, run as "winsteps tool NAME ARGUMENTS..." by the
// emulated machine when a step starts the program it stands for. run() gets the program's
// arguments, acts on the current machine and returns the program's exit code.
struct EmulatedTool
{
    const char* name;
    const char* summary;
    std::uint32_t (*run)(const QStringList& arguments);
};

// Every tool, by name.
const QList<EmulatedTool>& emulatedTools();

// ping [-t] [-n COUNT] [-w MS] [-l SIZE] HOST: answers for the machine itself (127.x.x.x,
// localhost, ::1, its computer name) once a second, COUNT times (default 4); exit code 0.
// Any other host is not found: exit code 1.
std::uint32_t pingTool(const QStringList& arguments);

// exit [CODE [SECONDS]]: waits SECONDS (fractions allowed), then exits with CODE (decimal or
// 0x hexadecimal, the whole 32 bits). A stand-in for any program a profile maps to it.
std::uint32_t exitTool(const QStringList& arguments);

} // namespace winsteps::host
