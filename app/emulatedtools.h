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
    const char* arguments; // the program's command line after its name, for the help
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

// regsvr32 [/s] [/u] FILE...: loads each emulated component file (a bare name from the system
// folder; see componentfile.h) and calls its DllRegisterServer, or with /u its
// DllUnregisterServer, which write or remove the classes' keys below HKEY_CLASSES_ROOT. Exit
// code as regsvr32's: 0 done, 1 a wrong command line, 2 COM did not start, 3 a file that is
// missing or no component, 4 no such entry point, 5 the entry point failed. Without /s, the
// text of regsvr32's message box goes to standard output as one line.
std::uint32_t regsvr32Tool(const QStringList& arguments); // toolregsvr32.cpp

// InstMsiA [/Q[:A|:U]] [/T:FOLDER] [/R:N]: installs installer engine 2.0, replacing the system
// folder's msiexec.exe with a 2.0 image: at once on NT and where there was no engine, on the
// 9x family (whose engine is in use) at the restart, through WININIT.INI. An engine at least
// as new stays. Exit code 0; the profile's staged code instead (nothing changed); 1603 when a
// file cannot be written; 1639 for another switch. Without /Q the text of its dialog goes to
// standard output as one line.
std::uint32_t instMsiTool(const QStringList& arguments); // toolinstmsi.cpp

// devprep -p "DIR" "DIR/FILE.inf" | -i "DIR" ENUMERATOR HWID... | -r ENUMERATOR HWID...: stages
// the driver package FILE.inf (-p); installs the driver of a staged package on every present
// device of the enumerator ("net": every network adapter) whose hardware id contains one of
// the ids (-i); removes those devices (present or not) with their children (-r). Surrounding double quotes of an
// argument are dropped. One line per device to standard output. Exit codes: DevprepExitCode in
// platform/devprep.h, which does the work.
std::uint32_t devprepTool(const QStringList& arguments); // tooldevprep.cpp

} // namespace winsteps::host
