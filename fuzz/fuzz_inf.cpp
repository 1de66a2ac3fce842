// Driver-package INF files: the input is a file a user hands the machine's driver packages.
// It is read for a 32-bit NT, a 64-bit NT and a 9x machine. What reads must be a package the
// install can use (a class, every model with an install section and at least one id, no id
// empty); what is refused must say why and where. The same text in UTF-16LE reads the same.

#include "fuzzsupport.h"

#include "platform/emulated/infreader.h"

#include <QStringDecoder>

namespace {

using namespace winsteps::platform::emulated;

QString summary(const inf::Package& package)
{
    QStringList lines{package.classGuid, package.className, package.provider, package.driverVersion};
    for (const inf::Model& model : package.models) {
        lines << model.description << model.installSection << model.ids.join(QLatin1Char('|'));
        for (const inf::Service& service : model.services)
            lines << service.name << service.installSection << QString::number(service.startType);
    }
    return lines.join(QLatin1Char('\n'));
}

void check(const QByteArray& bytes, const inf::Package& package, bool read, const inf::Error& error)
{
    if (!read) {
        if (error.code == 0 || error.reason.isEmpty() || error.line < 0 || error.line > bytes.count('\n') + bytes.count('\r') + 1)
            qFatal("a refusal without a code, a reason or a line inside the file (line %d)", error.line);
        return;
    }
    if (package.classGuid.size() != 38 || package.classGuid != package.classGuid.toUpper())
        qFatal("a package without its class GUID in upper case");
    if (package.models.size() > inf::maxModels)
        qFatal("more models than the limit");
    for (const inf::Model& model : package.models) {
        if (model.installSection.isEmpty() || model.ids.isEmpty() || model.ids.contains(QString()))
            qFatal("a model without an install section or with an empty id");
        if (model.description.size() > inf::maxValueLength)
            qFatal("a value longer than the limit");
    }
}

// The text the reader saw, again as UTF-16LE with its mark; null when the input has a mark.
QByteArray asUtf16(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF") || bytes.startsWith("\xEF\xBB\xBF"))
        return QByteArray();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    QByteArray out("\xFF\xFE");
    for (QChar c : text)
        out.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzzsupport::MaxInput)
        return -1;
    const QByteArray bytes = fuzzsupport::bytes(data, size);
    const inf::Target targets[] = {{true, false, 5, 1}, {true, true, 6, 0}, {false, false, 4, 90}};
    for (const inf::Target& target : targets) {
        inf::Package package;
        inf::Error error;
        const bool read = inf::read(bytes, target, &package, &error);
        check(bytes, package, read, error);
        const QByteArray wide = asUtf16(bytes);
        if (wide.isNull() || wide.size() > inf::maxFileSize)
            continue;
        inf::Package again;
        inf::Error againError;
        if (inf::read(wide, target, &again, &againError) != read || (read && summary(again) != summary(package)))
            qFatal("the same text in UTF-16 reads otherwise");
        fuzzsupport::keep(std::size_t(package.models.size()));
    }
    return 0;
}
