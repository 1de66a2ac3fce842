#include "netdev/cdmmessage.h"

#include "platform/devices.h"

CDMMessage::CDMMessage(QObject* parent)
    : CObject(parent, "CDMMessage")
    , m_count(winsteps::platform::devices().changeCount())
{
    connect(&m_timer, &QTimer::timeout, this, &CDMMessage::poll);
    m_timer.start(pollInterval);
}

CDMMessage::~CDMMessage() = default;

void CDMMessage::poll()
{
    const quint64 count = winsteps::platform::devices().changeCount();
    if (count == m_count)
        return;
    m_count = count;
    emit deviceNodeChanged();
}
