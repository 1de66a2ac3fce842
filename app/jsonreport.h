#pragma once

#include "cwizardrunner.h"

#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

class CPropertyObject;

namespace winsteps::host {

// A value as {"type": T, "value": V}: T is the variant's type name ("invalid" for an
// invalid variant), V its natural JSON form (numbers, strings, arrays of strings or of
// values, "#rrggbb" for a colour, QFont::toString() for a font, {"x","y"} for a point,
// {"width","height"} for a size or pixmap, null for an invalid value).
QJsonObject variantToJson(const QVariant& value);

// {"properties": {NAME: VALUE}, "objects": {NAME: OBJECT}} from the data fields and the
// object properties of a property object; both empty for null.
QJsonObject propertiesToJson(const CPropertyObject* object);

// {"class": CLASS, "name": OBJECT NAME, "properties": ..., "objects": ...}
QJsonObject objectToJson(const CPropertyObject* object);

struct RunReport
{
    QString wizard;
    QString profile;
    int exitStatus = 0;
    QList<Step> steps;
    QString finalState;
    QString finalEvent;
    bool timedOut = false; // the final state did not leave: its event is written as null
    const CPropertyObject* machine = nullptr;
    const CPropertyObject* application = nullptr;
    // The programs the run started that still run on the machine: (process id, file name).
    QList<QPair<quint32, QString>> processes;
};

// The report of a run, schema version 1.
QJsonObject buildReport(const RunReport& report);

// Writes indented JSON; false and an error text on failure.
bool writeJsonFile(const QString& path, const QJsonObject& json, QString* error);

} // namespace winsteps::host
