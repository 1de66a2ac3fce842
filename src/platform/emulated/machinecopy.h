#pragma once

#include "winsteps_platform_export.h"

#include <QString>

// Copies of a whole machine folder: snapshots, their restore and the throw-away machine of a
// dry run.
//
// A copy holds what makes the machine: machine.db (every table, copied through SQLite's
// online backup, so it is consistent even while other processes write to the machine),
// drive_c/ (a tree copy; file data is shared with the original where the file system can
// clone it, else copied; never hard-linked, as an in-place write to one would change the
// other; symbolic links stay links) and journal/ when the machine has one.
//
// The process records ("processes/") are not copied: they name host processes that run on
// the original folder, and a copy would claim processes that act elsewhere. Nor are the lock
// file, the debugger log or "snapshots/".

namespace winsteps::platform::emulated {

// Copies the machine in folder `from` into `to`, which must not exist yet (its parent must).
// On failure `to` is removed again; false + error text.
WINSTEPS_PLATFORM_EXPORT bool copyMachine(const QString& from, const QString& to, QString* error);

// Puts the machine copied into `copy` back into the existing machine folder `into`. The new
// tree and database are first built beside the old ones ("<into>/.restore/"), then swapped in
// by renames. While the swap runs, machine.db is a placeholder that is no database, so a kill
// at any moment leaves either the old machine, the restored one, or a folder that refuses to
// open (and a restore run again finishes the work); "<into>/.restore/" may be left over and
// goes with the next restore. Programs must not run on the machine meanwhile.
WINSTEPS_PLATFORM_EXPORT bool restoreMachine(const QString& copy, const QString& into, QString* error);

// The tree below `from` copied to `to` (which must not exist): directories, regular files
// (cloned where possible) and symbolic links (as links), with their modes and times.
WINSTEPS_PLATFORM_EXPORT bool copyTree(const QString& from, const QString& to, QString* error);

// Removes path with everything below it, by the bytes of each name (QDir cannot remove a name
// that is no valid UTF-8). True when nothing is left.
WINSTEPS_PLATFORM_EXPORT bool removeTree(const QString& path);

// The SQLite database `from` copied to the new file `to` through the online backup.
WINSTEPS_PLATFORM_EXPORT bool backupDatabase(const QString& from, const QString& to, QString* error);

} // namespace winsteps::platform::emulated
