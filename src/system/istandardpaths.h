#pragma once

#include "platform/system.h"
#include "winsteps_export.h"

#include <QMap>
#include <QString>

// A table of path macros ("%WINSYSDIR%", "%APP%", ...) and their expansion in any text.
// Classes that expand macros derive from it and call init() when they are constructed;
// the table reflects the system at that moment. Entries the owner adds with setMacro()
// stay until the next init().
class WINSTEPS_EXPORT IStandardPaths
{
public:
    // At most this many replacement passes are made by expand().
    static constexpr int maxPasses = 10;

    IStandardPaths();
    virtual ~IStandardPaths();

    // Empties the table, adds "%APP%" (the directory of the host's executable) and the
    // standard entries of the current machine (or of the given one). A query that fails
    // leaves its macro out, so texts keep it unexpanded.
    void init();
    void init(winsteps::platform::System& platform);

    // Adds or replaces one entry; macro includes both percent signs.
    void setMacro(const QString& macro, const QString& value);

    // Replaces, pass after pass, every occurrence of every macro (in key order,
    // case-sensitively) while the text still holds something like "%NAME%", up to
    // maxPasses passes. Macros without an entry stay as they are.
    QString expand(const QString& text) const;

    const QMap<QString, QString>& macros() const { return m_macros; }

private:
    void addShellFolders(winsteps::platform::System& platform);

    QMap<QString, QString> m_macros;
};
