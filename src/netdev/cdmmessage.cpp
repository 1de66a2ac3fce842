#include "netdev/cdmmessage.h"

#include "platform/dmdev.h"

CDMMessage::CDMMessage(QObject* parent)
    : CObject(parent, "CDMMessage")
{
    std::uint64_t count = 0;
    m_counted = winsteps::platform::DMDEV_GetChangeCount(&count) == winsteps::platform::DMDEV_OK;
    m_count = count;
    connect(&m_timer, &QTimer::timeout, this, &CDMMessage::poll);
    m_timer.start(pollInterval);
}

CDMMessage::~CDMMessage() = default;

void CDMMessage::poll()
{
    std::uint64_t count = 0;
    if (winsteps::platform::DMDEV_GetChangeCount(&count) != winsteps::platform::DMDEV_OK)
        return;
    const bool changed = m_counted && count != m_count;
    m_count = count;
    m_counted = true;
    if (changed)
        emit deviceNodeChanged();
}
