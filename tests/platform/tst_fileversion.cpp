// File versions on the emulated machine beyond what Windows itself promises: the installer
// engine each profile starts with, the PE reader on real images and on damaged ones, and
// values looked up in damaged version blocks.

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/pereader.h"
#include "platform/emulated/pewriter.h"
#include "platform/emulated/systemfiles.h"
#include "support/freshmachine.h"

#include <QDir>
#include <QTest>

#include <cstring>
#include <functional>

using namespace winsteps::platform;
using namespace winsteps::platform::emulated;

namespace {

// Where the parts of the writer's image lie (see pewriter.cpp): headers, section table, the
// entries of the resource tree (id, then target) and the version block.
constexpr std::size_t PeHeader = 0x3C, Signature = 0x40, SectionCount = 0x46, OptionalSize = 0x54, Magic = 0x58,
    DirectoryCount = 0xB4, ResourceRva = 0xC8, ResourceSize = 0xCC, SectionRawSize = 0x148, SectionRawPointer = 0x14C,
    TypeCounts = 0x20C, TypeEntry = 0x210, NameEntry = 0x228, LanguageEntry = 0x240, DataEntry = 0x248, Block = 0x258;

using Bytes = std::vector<std::uint8_t>;
using Damage = std::function<void(Bytes&)>;

// Writes value at an offset, little-endian, in width bytes.
Damage set(std::size_t at, std::uint32_t value, int width = 4)
{
    return [=](Bytes& b) {
        for (int i = 0; i < width; ++i)
            b[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
    };
}

pe::VersionInfo sample()
{
    pe::VersionInfo info;
    const std::uint16_t version[4] = {1, 10, 1029, 7};
    std::copy(version, version + 4, info.fileVersion);
    info.productVersion[0] = 2;
    info.strings = {{"FileVersion", "1.10.1029.7"}, {"ProductName", "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xff"}};
    return info;
}

std::uint32_t readBlock(const Bytes& image, Bytes* block = nullptr)
{
    Bytes ignored;
    return pe::readVersionBlock(pe::MemorySource(image.data(), image.size()), block ? block : &ignored);
}

// The text of a value that queryValue found (UTF-16 as UTF-8), "" when none.
QString text(const Bytes& block, const std::string& subBlock)
{
    std::size_t offset = 0;
    std::uint32_t length = 0;
    if (pe::queryValue(block.data(), block.size(), subBlock, &offset, &length) != ERROR_SUCCESS || length == 0)
        return QString();
    QString result;
    for (std::uint32_t i = 0; i + 1 < length; ++i)
        result += QChar(char16_t(block[offset + 2 * i] | block[offset + 2 * i + 1] << 8));
    return result;
}

// The fixed record of a file on the process's machine, read as callers read it.
std::uint32_t fixedRecord(const std::string& path, FixedFileInfo* info, Bytes* block)
{
    std::uint32_t size = 0;
    if (const std::uint32_t code = fileVersions().getFileVersionInfoSize(path, &size))
        return code;
    block->assign(size, 0);
    if (const std::uint32_t code = fileVersions().getFileVersionInfo(path, size, block->data()))
        return code;
    const void* value = nullptr;
    std::uint32_t length = 0;
    const std::uint32_t code = fileVersions().verQueryValue(block->data(), size, "\\", &value, &length);
    if (code == ERROR_SUCCESS && length == sizeof *info)
        std::memcpy(info, value, sizeof *info);
    return code;
}

QString versionText(const FixedFileInfo& info)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(info.fileVersionMS >> 16).arg(info.fileVersionMS & 0xFFFF)
        .arg(info.fileVersionLS >> 16).arg(info.fileVersionLS & 0xFFFF);
}

} // namespace

Q_DECLARE_METATYPE(Damage)

class TstFileVersion : public QObject {
    Q_OBJECT

private slots:
    void engineOfEachProfile_data();
    void engineOfEachProfile();
    void realImagesReportTheirVersion();
    void damagedImagesFailCleanly_data();
    void damagedImagesFailCleanly();
    void everyTruncationFailsCleanly();
    void valuesOfABlock_data();
    void valuesOfABlock();

private:
    QTemporaryDir m_dir;
};

void TstFileVersion::engineOfEachProfile_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("version"); // empty: no engine
    QTest::newRow("win95 has none") << "win95" << "";
    QTest::newRow("win98") << "win98" << "1.10.1029.0";
    QTest::newRow("winme") << "winme" << "1.20.1827.0";
    QTest::newRow("win2000") << "win2000" << "2.0.2600.2";
    QTest::newRow("winxp-sp1") << "winxp-sp1" << "2.0.2600.1106";
    QTest::newRow("winxp-sp2") << "winxp-sp2" << "3.1.4000.2435";
    QTest::newRow("win2003") << "win2003" << "3.1.4000.2435";
    QTest::newRow("vista") << "vista" << "4.0.6000.16386";
    QTest::newRow("vista-x64, Service Pack 1") << "vista-x64" << "4.0.6001.18000";
    QTest::newRow("a short version takes its build")
        << R"({"inherits": "win98", "installerVersion": "2.0"})" << "2.0.2600.2";
    QTest::newRow("a full version") << R"({"inherits": "win98", "installerVersion": "3.1.4000.7"})" << "3.1.4000.7";
    QTest::newRow("an unknown short version") << R"({"inherits": "win95", "installerVersion": "9.9"})" << "9.9.0.0";
    QTest::newRow("null: none") << R"({"inherits": "winxp-sp2", "installerVersion": null})" << "";
}

void TstFileVersion::engineOfEachProfile()
{
    QFETCH(QString, profile);
    QFETCH(QString, version);
    std::string error;
    QVERIFY2(!testsupport::openFreshMachine(m_dir, profile, &error).isEmpty(), error.c_str());
    const EmulatedMachine& machine = currentMachine();
    const std::string path = installerEnginePath(machine.profile()).toStdString();
    FixedFileInfo info;
    Bytes block;
    const std::uint32_t code = fixedRecord(path, &info, &block);
    if (version.isEmpty()) {
        QCOMPARE(code, ERROR_FILE_NOT_FOUND);
        return;
    }
    QCOMPARE(code, ERROR_SUCCESS);
    QCOMPARE(info.signature, VS_FFI_SIGNATURE);
    QCOMPARE(versionText(info), version);
    QCOMPARE(text(block, "\\StringFileInfo\\040904b0\\FileVersion"), version);
    // The engine lies where the system folder is.
    QVERIFY(QFile::exists(currentMachine().hostPath(QStringLiteral("C:\\%1\\%2\\MSIEXEC.EXE")
                                                        .arg(machine.profile().windowsFolder(),
                                                             machine.profile().systemFolder()))));
}

// Programs that Debian ships for Windows (Wine's own libraries, 32 and 64 bits), copied onto
// the machine: their fixed record agrees with their own FileVersion text.
void TstFileVersion::realImagesReportTheirVersion()
{
    int read = 0;
    for (const char* bits : {"i386", "x86_64"}) {
        const QString source = QStringLiteral("/usr/lib/x86_64-linux-gnu/wine/%1-windows/version.dll").arg(QLatin1String(bits));
        if (!QFile::exists(source))
            continue;
        std::string error;
        QVERIFY2(!testsupport::openFreshMachine(m_dir, QStringLiteral("winxp-sp2"), &error).isEmpty(), error.c_str());
        QVERIFY(QFile::copy(source, currentMachine().hostPath(QStringLiteral("C:\\version.dll"))));
        FixedFileInfo info;
        Bytes block;
        QCOMPARE(fixedRecord("C:\\version.dll", &info, &block), ERROR_SUCCESS);
        QVERIFY(info.fileVersionMS != 0);
        QCOMPARE(text(block, "\\StringFileInfo\\040904B0\\FileVersion"), versionText(info));
        ++read;
    }
    if (!read)
        QSKIP("no Windows program of Wine is installed (package wine64)");
}

void TstFileVersion::damagedImagesFailCleanly_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<std::uint32_t>("code");
    const std::uint32_t high = 0x80000000u;
    QTest::newRow("the image as written") << Damage([](Bytes&) {}) << ERROR_SUCCESS;
    QTest::newRow("no file") << Damage([](Bytes& b) { b.clear(); }) << ERROR_RESOURCE_DATA_NOT_FOUND;
    QTest::newRow("a text file") << Damage([](Bytes& b) { b.assign(200, 'x'); }) << ERROR_RESOURCE_DATA_NOT_FOUND;
    QTest::newRow("PE header beyond the end") << set(PeHeader, 0x7FFFFFF0) << ERROR_RESOURCE_DATA_NOT_FOUND;
    QTest::newRow("PE header at the top of the range") << set(PeHeader, 0xFFFFFFFF) << ERROR_RESOURCE_DATA_NOT_FOUND;
    QTest::newRow("no PE signature (a 16-bit image)") << set(Signature, 0x454E, 2) << ERROR_RESOURCE_DATA_NOT_FOUND;
    QTest::newRow("unknown optional header") << set(Magic, 0x107, 2) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("optional header too short for its count") << set(OptionalSize, 90, 2) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("optional header without the resources") << set(OptionalSize, 96, 2) << ERROR_RESOURCE_DATA_NOT_FOUND;
    QTest::newRow("two data directories") << set(DirectoryCount, 2) << ERROR_RESOURCE_DATA_NOT_FOUND;
    QTest::newRow("no resource directory") << set(ResourceRva, 0) << ERROR_RESOURCE_DATA_NOT_FOUND;
    QTest::newRow("resources outside every section") << set(ResourceRva, 0x9000) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("resources at the top of the range") << set(ResourceRva, 0xFFFFFFF8) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("a resource size that overflows") << set(ResourceSize, 0xFFFFFFFF) << ERROR_SUCCESS;
    QTest::newRow("a resource size too small for the tree") << set(ResourceSize, 40) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("65535 sections") << set(SectionCount, 0xFFFF, 2) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("raw data beyond the end") << set(SectionRawPointer, 0xFFFFFE00) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("raw size that overflows") << set(SectionRawSize, 0xFFFFFFFF) << ERROR_SUCCESS;
    QTest::newRow("no version type") << set(TypeEntry, 3) << ERROR_RESOURCE_TYPE_NOT_FOUND;
    QTest::newRow("the version type by name") << set(TypeEntry, high | 16) << ERROR_RESOURCE_TYPE_NOT_FOUND;
    QTest::newRow("65535 entries beyond the tree") << set(TypeCounts + 2, 0xFFFF, 2) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("type leads to data") << set(TypeEntry + 4, 72) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("type loops to the root") << set(TypeEntry + 4, high) << ERROR_RESOURCE_TYPE_NOT_FOUND;
    QTest::newRow("language loops to itself") << set(LanguageEntry + 4, high | 48) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("no version name 1") << set(NameEntry, 2) << ERROR_RESOURCE_TYPE_NOT_FOUND;
    QTest::newRow("directory offset beyond the tree") << set(NameEntry + 4, high | 0x7FFFFFF0) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("data beyond the section") << set(DataEntry, 0x1F00) << ERROR_BAD_EXE_FORMAT;
    QTest::newRow("data shorter than a header") << set(DataEntry + 4, 4) << ERROR_INVALID_DATA;
    QTest::newRow("block longer than its data") << set(Block, 0xFFFF, 2) << ERROR_INVALID_DATA;
}

void TstFileVersion::damagedImagesFailCleanly()
{
    QFETCH(Damage, damage);
    QFETCH(std::uint32_t, code);
    Bytes image = pe::programImage(sample());
    damage(image);
    QCOMPARE(readBlock(image), code);
}

// Cut anywhere before the end of the version block, the image is refused.
void TstFileVersion::everyTruncationFailsCleanly()
{
    const Bytes image = pe::programImage(sample());
    Bytes block;
    QCOMPARE(readBlock(image, &block), ERROR_SUCCESS);
    for (std::size_t size = 0; size < Block + block.size(); ++size) {
        const Bytes cut(image.begin(), image.begin() + std::ptrdiff_t(size));
        QVERIFY2(readBlock(cut) != ERROR_SUCCESS, qPrintable(QString::number(size)));
    }
}

void TstFileVersion::valuesOfABlock_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("subBlock");
    QTest::addColumn<QString>("value"); // for text; "" when the look-up fails; "=N" for N bytes
    const Damage none = [](Bytes&) {};
    QTest::newRow("a text beyond ASCII, a bad byte replaced")
        << none << "\\StringFileInfo\\040904B0\\ProductName" << "Caf\u00e9 \u20ac \U0001F600 \uFFFD";
    QTest::newRow("separators doubled") << none << "\\\\StringFileInfo\\\\040904B0\\ProductName\\" << "Caf\u00e9 \u20ac \U0001F600 \uFFFD";
    QTest::newRow("a node without a value") << none << "\\StringFileInfo" << "=0";
    QTest::newRow("bad signature") << set(40, 0x12345678) << "\\" << "";
    QTest::newRow("a fixed record cut short") << set(2, 48, 2) << "\\" << "";
    QTest::newRow("a child of length 0") << set(92, 0, 2) << "\\VarFileInfo\\Translation" << "";
    QTest::newRow("a child longer than its parent") << set(92, 0xFFF0, 2) << "\\VarFileInfo\\Translation" << "";
    QTest::newRow("a root shorter than its children")
        << set(0, 200, 2) << "\\StringFileInfo\\040904B0\\ProductName" << "";
    QTest::newRow("a key without its end") << Damage([](Bytes& b) { std::fill(b.begin() + 6, b.end(), 'x'); })
                                           << "\\" << "";
}

void TstFileVersion::valuesOfABlock()
{
    QFETCH(Damage, damage);
    QFETCH(QString, subBlock);
    QFETCH(QString, value);
    Bytes block = pe::versionBlock(sample());
    damage(block);
    std::size_t offset = 0;
    std::uint32_t length = 0;
    const std::uint32_t code = pe::queryValue(block.data(), block.size(), subBlock.toStdString(), &offset, &length);
    if (value.isEmpty()) {
        QCOMPARE(code, ERROR_RESOURCE_TYPE_NOT_FOUND);
    } else if (value.startsWith(QLatin1Char('='))) {
        QCOMPARE(code, ERROR_SUCCESS);
        QCOMPARE(QString::number(length), value.mid(1));
        QVERIFY(offset % 4 == 0 && offset + length <= block.size());
    } else {
        QCOMPARE(text(block, subBlock.toStdString()), value);
    }
}

QTEST_MAIN(TstFileVersion)
#include "tst_fileversion.moc"
