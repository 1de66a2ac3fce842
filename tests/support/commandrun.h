#pragma once

// Shared by the tests that run the winsteps command as a child process (the test's
// CMakeLists defines WINSTEPS_EXE): run it and collect its exit status and output, and
// write the files it is given.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

struct CommandRun
{
    int exitCode = -1; // -1 when the command crashed or hung
    QString out;
    QString err;
};

inline CommandRun runWinsteps(const QStringList& arguments)
{
    CommandRun run;
    QProcess process;
    process.start(QStringLiteral(WINSTEPS_EXE), arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Writes text to a new file "fileN<suffix>" in dir, N counting up in counter.
inline QString writeTestFile(const QTemporaryDir& dir, int& counter, const QByteArray& text, const QString& suffix)
{
    const QString path = dir.filePath(QStringLiteral("file%1%2").arg(++counter).arg(suffix));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(text);
    return path;
}
