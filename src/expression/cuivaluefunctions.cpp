#include "expression/cuivaluefunctions.h"

#include "objects/valueconversion.h"

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QThread>

using namespace winsteps::valueconversion;

namespace {

// Fonts and pixmaps need the GUI application, and pixmaps its thread; elsewhere the
// functions give an invalid value instead of stopping the process.
bool guiAvailable()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr
        && QThread::currentThread() == QCoreApplication::instance()->thread();
}

bool isColourComponent(int n)
{
    return n >= 0 && n <= 255;
}

} // namespace

QVariant CFunctionColor::value() const
{
    if (parameterCount() == 3) {
        const int red = toInt(parameterValue(0));
        const int green = toInt(parameterValue(1));
        const int blue = toInt(parameterValue(2));
        // Out of range gives the invalid colour (without the toolkit's warning).
        if (!isColourComponent(red) || !isColourComponent(green) || !isColourComponent(blue))
            return QVariant(QColor());
        return QVariant(QColor(red, green, blue));
    }
    return QVariant(QColor(toText(parameterValue(0))));
}

QVariant CFunctionPixmap::value() const
{
    const QString fileName = toText(parameterValue(0));
    if (!guiAvailable())
        return QVariant();
    return QVariant(QPixmap(fileName));
}

QVariant CFunctionFont::value() const
{
    // Read every parameter, in order, also when the font cannot be made.
    const int count = parameterCount();
    const QString family = count >= 1 ? toText(parameterValue(0)) : QString();
    const int pointSize = count >= 2 ? toInt(parameterValue(1)) : 0;
    const int weight = count >= 3 ? toInt(parameterValue(2)) : 0;
    const bool italic = count >= 4 ? toBool(parameterValue(3)) : false;
    if (!guiAvailable())
        return QVariant();

    QFont font;
    if (count >= 1 && family != QLatin1String("default"))
        font.setFamily(family);
    if (count >= 2 && pointSize > 0) // the toolkit ignores other sizes, with a warning
        font.setPointSize(pointSize);
    if (count >= 3) {
        // Weights are on the 0 to 99 scale (50 normal, 75 bold).
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        font.setLegacyWeight(qBound(0, weight, 99));
        QT_WARNING_POP
    }
    if (count >= 4)
        font.setItalic(italic);
    return QVariant(font);
}

QVariant CFunctionPoint::value() const
{
    const int x = toInt(parameterValue(0));
    const int y = toInt(parameterValue(1));
    return QVariant(QPoint(x, y));
}

QVariant CFunctionSize::value() const
{
    const int width = toInt(parameterValue(0));
    const int height = toInt(parameterValue(1));
    return QVariant(QSize(width, height));
}
