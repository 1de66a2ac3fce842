#pragma once

#include "actions/cthreadedaction.h"
#include "system/istandardpaths.h"
#include "platform/files.h"
#include "winsteps_export.h"

#include <QMap>
#include <QPair>
#include <QString>

// Copies files chosen by directory and file-name masks to destination directories,
// creating missing directories, one progress step per file.
//
// Properties: "srcDir" (macros %SRC%, %SOURCE%, %SRCDIR%, %SOURCEDIR%), "destDir" (%DEST%,
// %DESTDIR%), "copyFile1", "copyFile2", ... each "SOURCE::DESTINATION" where SOURCE is a
// directory and a mask ("*.txt|*.ini": several masks joined by "|"), read up to the first
// missing number. ("setGidUid" asks for owner and group to be carried over on systems other
// than Windows; every machine this library runs on, the emulated ones included, is Windows.)
//
// Paths are those of the machine (see platform::Files): "C:\..." and
// "C:/..." lie on its drive C:, sources may also be read from the host's installation media,
// and nothing is written outside the machine (such a copy fails with access denied).
//
// Copy codes: 0 copied; 1 the destination cannot be written, a read-only file included
// (non-fatal); 3 the source does not exist; 6 it cannot be read; 5 (result only) a
// destination directory cannot be made. A file is copied in chunks into a temporary file
// beside the destination, which is renamed into place only when complete: a failed or
// stopped copy never leaves a truncated destination behind.
class WINSTEPS_EXPORT CActionCopyFiles : public CThreadedAction, private IStandardPaths
{
    Q_OBJECT
public:
    enum Code {
        Copied = 0,
        AccessDenied = 1,
        SourceMissing = 3,
        MakePathFailed = 5,
        SourceUnreadable = 6,
        Stopped = 7, // a stop came in the middle of a file
    };
    static constexpr qint64 chunkSize = 64 * 1024;

    CActionCopyFiles(QObject* parent, const char* name, const QDomNode& element = QDomNode());
    ~CActionCopyFiles() override;

    // Fills the macro table and the file list from the properties.
    void resetProgress() override;
    // Asks the worker to stop and empties the file list once the worker is not running.
    void stop() override;
    // The number of files in the list.
    int maxProgress() const override;
    int execute() override;

    // Adds the files that source (a directory and masks) selects, each to destination.
    virtual void addFile(const QString& source, const QString& destination);
    virtual bool makePath(const QString& directory);
    virtual int copyFile(const QString& sourcePath, const QString& destinationPath);

    // Running number -> (source path, destination path).
    const QMap<int, QPair<QString, QString>>& files() const { return m_files; }

private:
    // Copies what is left of source into destination, chunk by chunk, until a stop.
    int copyContent(winsteps::platform::FileHandle& source, winsteps::platform::FileHandle& destination);

    QMap<int, QPair<QString, QString>> m_files;
    int m_nextNumber = 1;
};
