#pragma once

// Shared by the tests that run the winsteps command as a child process (the test's
// CMakeLists defines WINSTEPS_EXE): run it and collect its exit status, output and report,
// and write the files it is given.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
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

// input, when not null, is written to the command's stdin, which is then closed.
inline CommandRun runWinsteps(const QStringList& arguments, const QByteArray& input = QByteArray(),
                              const QString& workDir = QString())
{
    CommandRun run;
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.start(QStringLiteral(WINSTEPS_EXE), arguments);
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

struct ReportRun : CommandRun
{
    QJsonObject report; // empty when no report was written
    bool reportWritten = false;
};

// Runs the command with "--report FILE" added (FILE new in dir, N counting up in counter) and
// reads the report it wrote.
inline ReportRun runWinstepsWithReport(const QTemporaryDir& dir, int& counter, QStringList arguments)
{
    const QString path = dir.filePath(QStringLiteral("report%1.json").arg(++counter));
    ReportRun run;
    static_cast<CommandRun&>(run) = runWinsteps(arguments << QStringLiteral("--report") << path);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        run.reportWritten = true;
        run.report = QJsonDocument::fromJson(file.readAll()).object();
    }
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
