#include "actions/cenumprocess.h"

#include "platform/process.h"

CEnumProcess::CEnumProcess()
{
    std::vector<winsteps::platform::ProcessEntry> list;
    if (winsteps::platform::processes().enumProcesses(&list) != winsteps::platform::ERROR_SUCCESS)
        return;
    m_entries.reserve(qsizetype(list.size()));
    for (const winsteps::platform::ProcessEntry& process : list)
        m_entries.append({process.processId, QString::fromStdString(process.exeFile)});
}

bool CEnumProcess::first(Entry* entry)
{
    m_next = 0;
    return next(entry);
}

bool CEnumProcess::next(Entry* entry)
{
    if (m_next >= m_entries.size())
        return false;
    *entry = m_entries.at(m_next++);
    return true;
}
