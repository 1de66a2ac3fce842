// winsteps eval: evaluates one expression of the property-map language, as a map would.

#include "cwizardrunner.h"
#include "expression/cexpression.h"
#include "expression/cfunctionregistry.h"
#include "jsonreport.h"
#include "expression/cxpathnode.h"
#include "objects/valueconversion.h"
#include "expression/cproperty.h"
#include "expression/cpropertymap.h"
#include "objects/cpropertyobject.h"
#include "subcommand.h"

#include <QColor>
#include <QFont>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMetaEnum>
#include <QPixmap>
#include <QPoint>
#include <QSize>

#include <algorithm>
#include <memory>

namespace winsteps::host {

namespace {

const QString Command = QStringLiteral("eval");
constexpr int MaxObjectDepth = 32;

// A text between double quotes, with backslash escapes for quotes, backslashes and control
// characters, so that every character of the value is visible.
QString quotedText(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"': out += QLatin1String("\\\""); break;
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                out += QStringLiteral("\\u%1").arg(int(c.unicode()), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out + QLatin1Char('"');
}

// An enumeration value by its key, when its meta-object knows it.
QString enumerationKey(const QVariant& value)
{
    const QMetaType type = value.metaType();
    const QMetaObject* meta = type.metaObject();
    if (!meta)
        return QString::number(value.toInt());
    QByteArray name = type.name();
    const qsizetype scope = name.lastIndexOf("::");
    if (scope >= 0)
        name = name.mid(scope + 2);
    const int index = meta->indexOfEnumerator(name.constData());
    if (index < 0)
        return QString::number(value.toInt());
    const char* key = meta->enumerator(index).valueToKey(value.toInt());
    return key ? QString::fromLatin1(key) : QString::number(value.toInt());
}

// "TYPE VALUE": the value's type name and its value; "invalid" for no value.
QString describeValue(const QVariant& value)
{
    if (!value.isValid())
        return QStringLiteral("invalid");
    const QString type = QString::fromLatin1(value.typeName());
    QString text;
    switch (value.typeId()) {
    case QMetaType::QString:
        text = quotedText(value.toString());
        break;
    case QMetaType::QStringList: {
        QStringList items;
        for (const QString& s : value.toStringList())
            items << quotedText(s);
        text = QLatin1Char('[') + items.join(QLatin1String(", ")) + QLatin1Char(']');
        break;
    }
    case QMetaType::QVariantList: {
        QStringList items;
        for (const QVariant& v : value.toList())
            items << describeValue(v);
        text = QLatin1Char('[') + items.join(QLatin1String(", ")) + QLatin1Char(']');
        break;
    }
    case QMetaType::Double:
        text = QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
        break;
    case QMetaType::Bool:
        text = value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        break;
    case QMetaType::QColor: {
        const QColor colour = value.value<QColor>();
        text = colour.isValid() ? colour.name() : QStringLiteral("invalid");
        break;
    }
    case QMetaType::QFont:
        text = quotedText(value.value<QFont>().toString());
        break;
    case QMetaType::QPoint: {
        const QPoint p = value.toPoint();
        text = QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y());
        break;
    }
    case QMetaType::QSize: {
        const QSize s = value.toSize();
        text = QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
        break;
    }
    case QMetaType::QPixmap: {
        const QPixmap pixmap = value.value<QPixmap>();
        text = pixmap.isNull() ? QStringLiteral("null") : QStringLiteral("%1x%2").arg(pixmap.width()).arg(pixmap.height());
        break;
    }
    default:
        if (value.metaType().flags() & QMetaType::IsEnumeration)
            text = enumerationKey(value);
        else if (value.canConvert<QString>())
            text = value.toString();
        break;
    }
    return text.isEmpty() ? type : type + QLatin1Char(' ') + text;
}

// "object CLASS "NAME"" and, indented below, every property but the object name: values
// as describeValue() gives them, then object properties the same way, one level deeper.
void describeObject(const CPropertyObject* object, int depth, QString& out)
{
    out += QLatin1String("object ") + QString::fromLatin1(object->metaObject()->className()) + QLatin1Char(' ')
           + quotedText(object->objectName()) + QLatin1Char('\n');
    const QString indent(2 * (depth + 1), QLatin1Char(' '));
    if (depth >= MaxObjectDepth) {
        out += indent + QLatin1String("...\n");
        return;
    }
    for (const QString& name : object->propertyNames()) {
        if (name == QLatin1String("objectName") || object->hasObjectProperty(name))
            continue;
        out += indent + name + QLatin1String(": ") + describeValue(object->property(name)) + QLatin1Char('\n');
    }
    // Object properties in list order: node2 before node10.
    for (const QString& name : winsteps::valueconversion::objectPropertyNames(object)) {
        out += indent + name + QLatin1String(": ");
        describeObject(object->objectProperty(name), depth + 1, out);
    }
}

// NAME=VALUE with a non-empty name; false otherwise.
bool splitAssignment(const QString& text, QString* name, QString* value)
{
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return false;
    *name = text.left(equals);
    *value = text.mid(equals + 1);
    return true;
}

// Where variables are read, by their location: the state, the machine ("fsm."), the
// application ("app.").
struct Variables
{
    CPropertyObject state{nullptr, "state"};
    CPropertyObject machine{nullptr, "fsm"};
    CPropertyObject application{nullptr, "application"};

    CPropertyObject* sourceOf(int location)
    {
        switch (location) {
        case CProperty::Machine: return &machine;
        case CProperty::Application: return &application;
        default: return &state;
        }
    }

    // Gives the variables of --var and --xml their values. Returns -1 when the command goes
    // on, else its exit status (the usage error is printed).
    int give(const QCommandLineParser& parser, const QCommandLineOption& varOption, const QCommandLineOption& xmlOption)
    {
        for (const QString& text : parser.values(varOption)) {
            QString name;
            QString value;
            if (!splitAssignment(text, &name, &value))
                return cli::usageError(Command, QLatin1String("--var wants NAME=VALUE, not \"") + text + QLatin1Char('"'));
            const CProperty where(name);
            if (!sourceOf(where.location())->setProperty(where.name(), QVariant(value)))
                return cli::usageError(Command, QLatin1String("cannot set the variable ") + name);
        }
        for (const QString& text : parser.values(xmlOption)) {
            QString name;
            std::unique_ptr<CXPathNode> node;
            if (const int status = cli::loadXmlOption(Command, text, &name, &node); status >= 0)
                return status;
            const CProperty where(name);
            if (!sourceOf(where.location())->adoptObjectProperty(where.name(), std::move(node)))
                return cli::usageError(Command, QLatin1String("cannot set the variable ") + name);
        }
        return -1;
    }

    // Fills the map's variables as a transition does; a missing one reads as the empty text.
    void fill(CPropertyMap& map)
    {
        for (CProperty* variable : map.variables()) {
            const CPropertyObject* source = sourceOf(variable->location());
            if (CPropertyObject* object = source->objectProperty(variable->name())) {
                variable->setObject(object);
                continue;
            }
            const QVariant value = source->property(variable->name());
            if (!value.isValid())
                cli::err(QLatin1String("winsteps eval: $") + (variable->location() == CProperty::Machine ? QLatin1String("fsm.")
                                                              : variable->location() == CProperty::Application ? QLatin1String("app.")
                                                                                                               : QLatin1String(""))
                         + variable->name() + QLatin1String(" is not given; it reads as the empty text\n"));
            variable->setValue(value.isValid() ? value : QVariant(QString(QLatin1String(""))));
        }
    }
};

QString jsonText(const QJsonDocument& document)
{
    return QString::fromUtf8(document.toJson(QJsonDocument::Indented));
}

// Prints an evaluated map's result: "null", an object with its properties, or a value; as
// JSON: null, the object as the run report writes objects, or {"type", "value"}.
void printResult(CPropertyMap& map, bool json)
{
    if (json) {
        if (map.target().object()) {
            const std::unique_ptr<CPropertyObject> object(map.takeTargetObject());
            cli::out(jsonText(QJsonDocument(objectToJson(object.get()))));
        } else if (map.resultIsObject()) {
            cli::out(QStringLiteral("null\n"));
        } else {
            cli::out(jsonText(QJsonDocument(variantToJson(map.target().value()))));
        }
    } else if (map.resultIsObject() && !map.target().object()) {
        cli::out(QStringLiteral("null\n"));
    } else if (map.target().object()) {
        const std::unique_ptr<CPropertyObject> object(map.takeTargetObject());
        QString text;
        describeObject(object.get(), 0, text);
        cli::out(text);
    } else {
        cli::out(describeValue(map.target().value()) + QLatin1Char('\n'));
    }
}

// The numbers of parameters a function accepts, as the lowest, the highest (-1: no limit) and,
// when limited, every accepted number.
struct AcceptedCounts
{
    int minimum = -1;
    int maximum = -1;
    QList<int> counts;

    explicit AcceptedCounts(const CParameterCount& rule)
    {
        // No function of the language takes more than a handful of fixed parameters; a rule
        // that accepts a count past this one accepts every count from its minimum on.
        constexpr int Limit = 32;
        for (int n = 0; n <= Limit; ++n) {
            if (rule.accepts(n))
                counts << n;
        }
        if (!counts.isEmpty())
            minimum = counts.first();
        if (rule.accepts(Limit + 1))
            counts.clear();
        else if (!counts.isEmpty())
            maximum = counts.last();
    }
};

// Every function of the registry: "NAME  PARAMETERS  DESCRIPTION" lines, or as JSON a list of
// {"name", "parameters" (as text), "minimum", "maximum" (null: no limit), "counts" (when
// limited), "description"}.
QString functionList(bool json)
{
    const QList<CFunctionEntry>& entries = winsteps::functionRegistry::entries();
    if (json) {
        QJsonArray list;
        for (const CFunctionEntry& entry : entries) {
            const AcceptedCounts accepted(entry.parameterCount);
            QJsonObject function{{QStringLiteral("name"), QString::fromLatin1(entry.name)},
                                 {QStringLiteral("parameters"), entry.parameterCount.text()},
                                 {QStringLiteral("minimum"), accepted.minimum},
                                 {QStringLiteral("maximum"), accepted.maximum < 0 ? QJsonValue(QJsonValue::Null)
                                                                                  : QJsonValue(accepted.maximum)},
                                 {QStringLiteral("description"), QString::fromUtf8(entry.description)}};
            if (accepted.maximum >= 0) {
                QJsonArray counts;
                for (const int n : accepted.counts)
                    counts.append(n);
                function.insert(QStringLiteral("counts"), counts);
            }
            list.append(function);
        }
        return jsonText(QJsonDocument(list));
    }
    qsizetype nameWidth = 0;
    qsizetype countWidth = 0;
    for (const CFunctionEntry& entry : entries) {
        nameWidth = std::max(nameWidth, qsizetype(qstrlen(entry.name)));
        countWidth = std::max(countWidth, entry.parameterCount.text().size());
    }
    QString text;
    for (const CFunctionEntry& entry : entries)
        text += QString::fromLatin1(entry.name).leftJustified(nameWidth + 2)
                + entry.parameterCount.text().leftJustified(countWidth + 2) + QString::fromUtf8(entry.description)
                + QLatin1Char('\n');
    return text;
}

// The function names of the registry, for the help text: joined by ", " and broken into
// lines of at most 80 characters.
QString functionNames()
{
    QString text;
    qsizetype lineLength = 0;
    const QList<CFunctionEntry>& entries = winsteps::functionRegistry::entries();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString word = QString::fromLatin1(entries.at(i).name) + (i + 1 < entries.size() ? QLatin1String(",") : QLatin1String("."));
        if (lineLength > 0 && lineLength + 1 + word.size() > 80) {
            text += QLatin1Char('\n');
            lineLength = 0;
        } else if (lineLength > 0) {
            text += QLatin1Char(' ');
            ++lineLength;
        }
        text += word;
        lineLength += word.size();
    }
    return text;
}

// An expression that begins with a minus sign ("-0.5", "-$x") before any "--" would be read
// as an option; say how to write it instead. The values of --var and --xml are skipped.
int refuseLeadingMinus(const QStringList& arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--"))
            return -1;
        if (argument == QLatin1String("--var") || argument == QLatin1String("--xml")
            || argument == QLatin1String("-var") || argument == QLatin1String("-xml")) {
            ++i;
            continue;
        }
        if (argument.size() > 1 && argument.startsWith(QLatin1Char('-')) && !argument.at(1).isLetter()
            && argument.at(1) != QLatin1Char('-'))
            return cli::usageError(Command, QLatin1String("\"") + argument
                                                + QLatin1String("\" would be read as an option; put -- before an "
                                                                "expression that begins with a minus sign: winsteps eval -- ")
                                                + argument);
    }
    return -1;
}

} // namespace

int evalCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Evaluates EXPRESSION as a property map would and prints the result's type and value\n"
        "(\"qlonglong 3\", \"QString \\\"abc\\\"\", ...). An object result is printed with its class, its\n"
        "name and its properties. A variable $NAME reads --var NAME=VALUE (a text) or the\n"
        "document of --xml NAME=FILE; $fsm.NAME and $app.NAME read the same options given as\n"
        "fsm.NAME and app.NAME. A variable given by neither reads as the empty text.\n"
        "Traces of the evaluation go to standard error. Put -- before an expression that\n"
        "begins with a minus sign.\n"
        "Exit status: 0 the result was printed, 1 the expression is invalid (the parser's\n"
        "messages are printed to standard error), 2 a bad command line or an unreadable file.\n"
        "\n"
        "Functions (--functions lists their parameters and what they give):\n")
        + functionNames());
    parser.addOption(cli::helpOption());
    parser.addPositionalArgument(QStringLiteral("EXPRESSION"), QStringLiteral("The expression, e.g. \"concat('a', $x)\"."));
    const QCommandLineOption varOption(QStringLiteral("var"),
                                       QStringLiteral("Gives the variable $NAME the text VALUE. Repeatable."),
                                       QStringLiteral("NAME=VALUE"));
    const QCommandLineOption xmlOption(
        QStringLiteral("xml"),
        QStringLiteral("Gives the variable $NAME the root element of the XML file FILE, as a node object. Repeatable."),
        QStringLiteral("NAME=FILE"));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        QStringLiteral("Prints the result as JSON, as the run report writes values: {\"type\", \"value\"}, an "
                       "object as {\"class\", \"name\", \"properties\", \"objects\"}, or null. With --functions, "
                       "the list as JSON."));
    const QCommandLineOption functionsOption(
        QStringLiteral("functions"),
        QStringLiteral("Lists every function of the language (no EXPRESSION): its name, the numbers of parameters it "
                       "takes and what it gives."));
    parser.addOptions({varOption, xmlOption, jsonOption, functionsOption});
    if (const int status = refuseLeadingMinus(arguments); status >= 0)
        return status;
    if (const int status = cli::parse(parser, Command, QStringLiteral("EXPRESSION [options]"), arguments); status >= 0)
        return status;

    if (parser.isSet(functionsOption)) {
        if (!parser.positionalArguments().isEmpty())
            return cli::usageError(Command, QStringLiteral("--functions takes no expression"));
        cli::out(functionList(parser.isSet(jsonOption)));
        return ExitOk;
    }

    QString expression;
    if (const int status = cli::onePositional(parser, Command, QStringLiteral("no expression given"),
                                              QStringLiteral("one expression only (quote it)"), &expression);
        status >= 0)
        return status;

    Variables variables;
    if (const int status = variables.give(parser, varOption, xmlOption); status >= 0)
        return status;

    CPropertyMap map(nullptr, QStringLiteral("result"), expression);
    if (!map.isValid()) {
        cli::err(map.errors());
        return ExitFailed;
    }
    variables.fill(map);
    if (!map.evaluate()) {
        cli::err(QStringLiteral("winsteps eval: the expression gave no result\n"));
        return ExitFailed;
    }
    printResult(map, parser.isSet(jsonOption));
    return ExitOk;
}

} // namespace winsteps::host
