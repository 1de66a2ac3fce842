#pragma once

#include "winsteps_export.h"

#include <QList>
#include <QString>

// A snapshot of the running processes, taken at construction, walked in the order the
// system lists them. Each entry holds the process identifier and its bare file name.
class WINSTEPS_EXPORT CEnumProcess
{
public:
    struct Entry
    {
        quint32 processId = 0;
        QString fileName;
    };

    CEnumProcess();

    // The first entry; false when the list is empty (or could not be taken).
    bool first(Entry* entry);
    // The entry after the one returned last; false past the end.
    bool next(Entry* entry);

    const QList<Entry>& entries() const { return m_entries; }

private:
    QList<Entry> m_entries;
    qsizetype m_next = 0;
};
