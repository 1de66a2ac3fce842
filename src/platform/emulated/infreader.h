#pragma once

#include "winsteps_platform_export.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

// A strict reader of driver-package INF files, for the emulated machine's driver packages. It
// reads files a user hands it, so every size is limited (below) and anything it cannot read
// for sure is refused with a reason, a setup error code and the line it concerns.
//
// The text: UTF-16LE with its byte-order mark, UTF-8 (with or without its mark), else ANSI
// (read as Latin-1). Line ends CR LF, LF or CR.
//
//   file      := { line }
//   line      := section | entry | blank          ";" starts a comment outside quotes
//   section   := "[" name "]"                      names compare without regard to case;
//                                                 sections of one name are joined
//   entry     := [ key "=" ] field { "," field }   the key ends at the first "=" outside
//                                                 quotes and before any ","
//   field     := { text | '"' quoted '"' }         blanks around a field are dropped; '""'
//                                                 inside quotes is one '"'; a quote closes on
//                                                 its own line
//   continuation: a line whose last character (outside quotes and comments) is "\" goes on
//                 with the next line
//   %key%     : replaced by the value of key in [Strings] in keys and fields ("%%" is one
//                 "%"); an unknown key (a directory id such as %12%) stays as written
//
// What a driver package must hold:
//   [Version]       Signature = "$Windows NT$" or "$Chicago$"; ClassGuid = {...} (a GUID);
//                   Class, Provider, DriverVer = mm/dd/yyyy[,w.x.y.z] when given
//   [Manufacturer]  name = models-section [, decoration ...]
//   models section  description = install-section, hardware-id [, compatible-id ...]
//   install section chosen like the models section; its ".Services" section may hold
//                   AddService = service-name, [flags], service-install-section
//   service-install ServiceType, StartType, ErrorControl (numbers), ServiceBinary,
//                   DisplayName, LoadOrderGroup
//
// Decorations, by the machine: the 9x family reads undecorated sections only. A 32-bit
// Windows NT takes the first of "NTx86", "NT", undecorated that the file has; a 64-bit one
// only "NTamd64" (an INF without it has no models there). A decoration may end in an
// operating-system version ("NTx86.5.1"): it applies from that version on.

namespace winsteps::platform::emulated::inf {

// Limits of the reader.
inline constexpr qsizetype maxFileSize = 1024 * 1024;  // bytes of the file
inline constexpr qsizetype maxLineLength = 4096;       // characters of a line, continuations joined
inline constexpr int maxLines = 65536;                 // lines of the file
inline constexpr int maxSections = 4096;
inline constexpr int maxSectionNameLength = 255;
inline constexpr int maxFields = 128;                  // fields of one entry
inline constexpr qsizetype maxValueLength = 4096;      // characters of a field after %key% replacement
inline constexpr int maxModels = 4096;

// The machine a package is read for.
struct Target {
    bool nt = true;
    bool amd64 = false;
    int major = 5;
    int minor = 1;
};

// The default settings of a service the INF names, as Windows applies them.
struct Service {
    QString name;
    std::uint32_t flags = 0;
    QString installSection;
    std::uint32_t serviceType = 1; // SERVICE_KERNEL_DRIVER
    std::uint32_t startType = 3;   // SERVICE_DEMAND_START
    std::uint32_t errorControl = 1;
    QString serviceBinary; // as written, "%12%\e1000.sys"
    QString displayName;
    QString loadOrderGroup;
};

struct Model {
    QString manufacturer;
    QString description;
    QString installSection; // the section the install uses, decorated as chosen
    QStringList ids;        // the hardware id, then the compatible ids; none empty
    QList<Service> services;
    int line = 0;
};

struct Package {
    QString signature;
    QString className;
    QString classGuid; // upper case, with braces
    QString provider;
    QString driverDate;    // "mm/dd/yyyy", empty when not given
    QString driverVersion; // "w.x.y.z", empty when not given
    QList<Model> models;   // for the target, in the file's order
};

struct Error {
    std::uint32_t code = 0; // ERROR_GENERAL_SYNTAX, ERROR_WRONG_INF_STYLE, ...
    int line = 0;           // 1 for the first; 0 for the file as a whole
    QString reason;
};

// Reads bytes as an INF file for target. False + error (when given) when it is not a
// driver package this reader can vouch for.
WINSTEPS_PLATFORM_EXPORT bool read(const QByteArray& bytes, const Target& target, Package* package,
                                   Error* error);

// "line N: reason" (or the reason alone for line 0).
WINSTEPS_PLATFORM_EXPORT QString errorText(const Error& error);

// How well a model fits a node: 0 when it names the node's first id, 1 its second and so on
// through hardwareIds and then compatibleIds; -1 when no id of the node is among the model's.
WINSTEPS_PLATFORM_EXPORT int matchRank(const Model& model, const QStringList& hardwareIds,
                                       const QStringList& compatibleIds);

} // namespace winsteps::platform::emulated::inf
