// Copies of a machine folder and their restore: the registry and drive C: (odd names,
// symbolic links, modes) come back exactly, the copy shares no inode with the original, and a
// restore killed at any moment leaves the old machine, the restored one, or a folder that
// refuses to open, never a mixture.

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "platform/emulated/machinecopy.h"
#include "support/files.h"
#include "support/freshmachine.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace winsteps::platform;
using emulated::EmulatedMachine;

namespace {

// Every entry below root as "path mode size content-or-target" (names as their bytes), sorted.
QStringList tree(const QString& root)
{
    namespace fs = std::filesystem;
    QStringList lines;
    const fs::path base(QFile::encodeName(root).toStdString());
    for (auto it = fs::recursive_directory_iterator(base); it != fs::recursive_directory_iterator(); ++it) {
        struct stat st;
        ::lstat(it->path().c_str(), &st);
        QString line = QString::fromLatin1(QByteArray::fromStdString(it->path().lexically_relative(base).native()).toPercentEncoding("/"))
            + QStringLiteral(" %1 %2").arg(st.st_mode, 0, 8).arg(S_ISDIR(st.st_mode) ? 0 : st.st_size);
        if (S_ISREG(st.st_mode)) {
            std::ifstream in(it->path(), std::ios::binary); // by its bytes, as the name may be no UTF-8
            line += QLatin1Char(' ') + QString::fromLatin1(QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {})).toHex());
        }
        if (S_ISLNK(st.st_mode))
            line += QStringLiteral(" -> ") + QString::fromLatin1(QByteArray::fromStdString(fs::read_symlink(it->path()).native()).toPercentEncoding());
        lines << line;
    }
    lines.sort();
    return lines;
}

QString exportOf(const QString& folder)
{
    QString error;
    std::unique_ptr<EmulatedMachine> machine = EmulatedMachine::openExisting(folder, &error);
    if (!machine)
        return QStringLiteral("cannot open: ") + error;
    machine->setSystemAccess(true);
    return testsupport::exported(machine->registry());
}

bool import(const QString& folder, const QString& text)
{
    QString error;
    std::unique_ptr<EmulatedMachine> machine = EmulatedMachine::openExisting(folder, &error);
    const QByteArray bytes = ("Windows Registry Editor Version 5.00\r\n\r\n" + text).toUtf8();
    std::string importError;
    return machine && importRegistry(machine->registry(), std::vector<std::uint8_t>(bytes.begin(), bytes.end()), &importError);
}

// A file, made with its folders; its name is written as the bytes given.
void put(const QString& folder, const QByteArray& path, const QByteArray& content)
{
    QVERIFY(QDir().mkpath(folder + QLatin1Char('/') + QString::fromLatin1(path.left(path.lastIndexOf('/') + 1))));
    const int fd = ::open(QByteArray(QFile::encodeName(folder) + '/' + path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
    ::close(fd);
}

} // namespace

class TstMachineCopy : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    // A machine with a value, odd file names, links, an executable file, an empty folder, a
    // journal and a process record.
    QString richMachine()
    {
        const QString folder = testsupport::freshFolder(m_dir);
        QString error;
        if (!EmulatedMachine::create(QString(), folder, &error))
            qFatal("%s", qPrintable(error));
        import(folder, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n\"Version\"=\"1.0\"\r\n");
        const QString c = folder + QStringLiteral("/drive_c");
        for (const QByteArray& name : {QByteArray("odd/a b.txt"), QByteArray("odd/new\nline"), QByteArray("odd/back\\slash"),
                                       QByteArray("odd/\xff\xfe latin"), QByteArray("odd/-dash"), QByteArray("odd/.hidden")})
            put(c, name, "content of " + name);
        put(folder, "journal/1", "old content");
        put(folder, "processes/123-456", "demo.exe");
        QDir().mkpath(c + QStringLiteral("/empty"));
        ::chmod(QFile::encodeName(c + QStringLiteral("/odd/-dash")).constData(), 0755);
        ::symlink("a b.txt", QFile::encodeName(c + QStringLiteral("/odd/link")).constData());
        ::symlink("/nowhere/at all", QFile::encodeName(c + QStringLiteral("/odd/dangling")).constData());
        return folder;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void cleanupTestCase() { QVERIFY(emulated::removeTree(m_dir.path())); } // QDir cannot remove odd names

    // Copy, change the original, restore: the registry and the trees are the copy's again;
    // process records are neither copied nor lost.
    void copyAndRestore()
    {
        const QString original = richMachine();
        const QString copy = m_dir.filePath(QStringLiteral("copy"));
        QString error;
        QVERIFY2(emulated::copyMachine(original, copy, &error), qPrintable(error));
        QCOMPARE(tree(copy + "/drive_c"), tree(original + "/drive_c"));
        QCOMPARE(tree(copy + "/journal"), tree(original + "/journal"));
        QCOMPARE(exportOf(copy), exportOf(original));
        QVERIFY(!QFileInfo::exists(copy + "/processes"));
        struct stat a, b;
        QCOMPARE(::stat(QFile::encodeName(original + "/drive_c/odd/a b.txt").constData(), &a), 0);
        QCOMPARE(::stat(QFile::encodeName(copy + "/drive_c/odd/a b.txt").constData(), &b), 0);
        QVERIFY(a.st_ino != b.st_ino); // never a hard link
        // An existing target is refused and left alone.
        QVERIFY(!emulated::copyMachine(original, copy, &error));
        QVERIFY2(error.contains("exists already"), qPrintable(error));
        QCOMPARE(tree(copy + "/drive_c"), tree(original + "/drive_c"));

        const QStringList copied = tree(copy + "/drive_c");
        const QString registry = exportOf(copy);
        QVERIFY(import(original, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n\"Version\"=\"2.0\"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n"));
        put(original + "/drive_c", "odd/a b.txt", "changed");
        put(original + "/drive_c", "added", "new");
        QVERIFY(QFile::remove(original + "/drive_c/odd/link"));
        QVERIFY(QDir(original + "/journal").removeRecursively());
        put(original, ".restore/drive_c.new/leftover", "of an interrupted restore");
        QVERIFY(exportOf(original) != registry);

        QVERIFY2(emulated::restoreMachine(copy, original, &error), qPrintable(error));
        QCOMPARE(tree(original + "/drive_c"), copied);
        QCOMPARE(tree(original + "/journal"), tree(copy + "/journal"));
        QCOMPARE(exportOf(original), registry);
        QVERIFY(!QFileInfo::exists(original + "/.restore"));
        QVERIFY(QFileInfo::exists(original + "/processes/123-456"));
        // The copy is untouched by the restore and by later writes to the machine.
        put(original + "/drive_c", "odd/a b.txt", "written after the restore");
        QCOMPARE(tree(copy + "/drive_c"), copied);

        // Nothing to restore from: refused, machine unchanged.
        QVERIFY(!emulated::restoreMachine(m_dir.filePath("none"), original, &error));
        QVERIFY2(error.contains("holds no machine"), qPrintable(error));
        QCOMPARE(exportOf(original), registry);
    }

    // Copies taken while another process writes values v0, v1, ... in order: each copy is
    // a sound database holding v0 to vN-1 for some N, never a later value without an earlier.
    void copyWhileWritten()
    {
        const QString machine = richMachine();
        QProcess writer;
        writer.start(QStringLiteral(REGWRITER), {machine, QStringLiteral("w"), QStringLiteral("600")});
        QVERIFY(writer.waitForReadyRead(10000));
        int copies = 0;
        qsizetype seen = 0;
        for (; writer.state() == QProcess::Running && copies < 5; ++copies) {
            const QString copy = m_dir.filePath(QStringLiteral("busy%1").arg(copies));
            QString error;
            QVERIFY2(emulated::copyMachine(machine, copy, &error), qPrintable(error));
            std::unique_ptr<EmulatedMachine> opened = EmulatedMachine::openExisting(copy, &error);
            QVERIFY2(opened, qPrintable(error));
            QCOMPARE(opened->integrityCheck(), QStringLiteral("ok"));
            const QString text = testsupport::exported(opened->registry(), "HKEY_CURRENT_USER\\Software\\Crash\\w");
            // Indices 0 to count-1, each once, each with its own data.
            QList<int> indices;
            for (const QRegularExpressionMatch& m : QRegularExpression(QStringLiteral("\"v(\\d+)\"=\"w-(\\d+)\"")).globalMatch(text)) {
                QCOMPARE(m.captured(1), m.captured(2));
                indices << m.captured(1).toInt();
            }
            std::sort(indices.begin(), indices.end());
            const qsizetype count = indices.size();
            QVERIFY2(count == 0 || indices.last() == count - 1, qPrintable(text));
            seen = std::max(seen, count);
        }
        writer.kill();
        writer.waitForFinished();
        QVERIFY(copies > 0 && seen > 0);
    }

    // Restores killed at random moments: the folder then holds the old machine whole, the
    // restored one whole, or refuses to open; a restore run again always finishes.
    void killedRestore()
    {
        const QString machine = richMachine();
        const QString snapshot = m_dir.filePath(QStringLiteral("snapshot"));
        QString error;
        QVERIFY2(emulated::copyMachine(machine, snapshot, &error), qPrintable(error));
        const QStringList newTree = tree(snapshot + "/drive_c");
        const QString newExport = exportOf(snapshot);
        // Kills fall anywhere in a restore's time, and somewhat after.
        QElapsedTimer timer;
        timer.start();
        QVERIFY2(emulated::restoreMachine(snapshot, machine, &error), qPrintable(error));
        const int span = int(timer.nsecsElapsed() / 1000 * 5 / 4) + 1;
        int outcomes[3] = {0, 0, 0};
        for (int round = 0; round < 30; ++round) {
            QVERIFY(import(machine, QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n\"Round\"=dword:%1\r\n").arg(round, 8, 16, QLatin1Char('0'))));
            put(machine + "/drive_c", "odd/round", QByteArray::number(round));
            const QStringList oldTree = tree(machine + "/drive_c");
            const QString oldExport = exportOf(machine);
            const pid_t child = ::fork();
            if (child == 0) {
                QString ignored;
                ::_exit(emulated::restoreMachine(snapshot, machine, &ignored) ? 0 : 1);
            }
            QVERIFY(child > 0);
            ::usleep(QRandomGenerator::global()->bounded(span));
            ::kill(child, SIGKILL);
            int status = 0;
            ::waitpid(child, &status, 0);
            QVERIFY(!WIFEXITED(status) || WEXITSTATUS(status) == 0);
            const QString now = exportOf(machine);
            if (now.startsWith(QLatin1String("cannot open"))) {
                ++outcomes[2];
            } else if (now == oldExport) {
                QCOMPARE(tree(machine + "/drive_c"), oldTree);
                ++outcomes[0];
            } else {
                QCOMPARE(now, newExport);
                QCOMPARE(tree(machine + "/drive_c"), newTree);
                ++outcomes[1];
            }
            QVERIFY2(emulated::restoreMachine(snapshot, machine, &error), qPrintable(error));
            QCOMPARE(exportOf(machine), newExport);
            QCOMPARE(tree(machine + "/drive_c"), newTree);
        }
        qInfo("old %d, restored %d, refused %d", outcomes[0], outcomes[1], outcomes[2]);
    }
};

QTEST_GUILESS_MAIN(TstMachineCopy)
#include "tst_machinecopy.moc"
