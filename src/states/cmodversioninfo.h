#pragma once

#include "platform/fileversion.h"
#include "winsteps_export.h"

#include <QString>

#include <cstdint>
#include <vector>

// Reads the version resource of a program or library file through the file-version calls
// and answers the first two numbers of its file version (1.10 of 1.10.1029.0).
//
// The whole version block is read into memory that the reader owns; the fixed record is
// looked up in it (root block "\") and kept as a copy. A file without a version resource
// (missing, no program image, no resources) leaves the reader invalid without a word; a
// version block that cannot be read, or one without a fixed record, also leaves it invalid
// and is reported through qWarning as "ASSERT: \"<member>\" in modversioninfo_win (<line>)".
// An invalid reader answers 0 for every number.
class WINSTEPS_EXPORT CModVersionInfo
{
public:
    // The number of characters of the buffer that the running module's file name is read
    // into, its closing NUL included: a longer name is cut to 259 characters, as Windows
    // cuts it, and so names no file.
    static constexpr int moduleNameBufferSize = 260;

    // fileName: a path of the machine ("C:\..."). Empty: the running module's file, which on
    // Windows is the host's executable; on the emulated machine that is the host's own Linux
    // program, which has no version resource (the reader stays invalid).
    explicit CModVersionInfo(const QString& fileName = QString());

    CModVersionInfo(const CModVersionInfo&) = delete;
    CModVersionInfo& operator=(const CModVersionInfo&) = delete;

    // The high and the low 16 bits of the most significant half of the file version.
    int majorVersion() const;
    int minorVersion() const;

    bool isValid() const { return m_valid; }
    QString fileName() const { return m_fileName; }
    // The fixed record as read (all zero when the reader is invalid).
    const winsteps::platform::FixedFileInfo& fixedFileInfo() const { return m_fileVersionInfo; }

private:
    static QString runningModuleFile();
    void read();

    QString m_fileName;
    const void* m_pFileVersionInfo = nullptr; // where the fixed record lies in the block
    winsteps::platform::FixedFileInfo m_fileVersionInfo; // its copy
    std::vector<std::uint8_t> m_pVersionInfoBlock; // the whole version resource
    bool m_valid = false;
};
