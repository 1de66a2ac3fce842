#pragma once

#include "objects/cobject.h"
#include "winsteps_export.h"

#include <QTimer>

// Tells of changes of the machine's device tree: deviceNodeChanged() is emitted when a node
// has come, gone, been bound to a driver or had a volume mounted since the last look. It
// looks every pollInterval ms from a timer on its own (event) thread, at the devices
// subsystem's change counter. powerNotification(event) is declared for power events, which
// this machine does not report.
class WINSTEPS_EXPORT CDMMessage : public CObject
{
    Q_OBJECT
public:
    static constexpr int pollInterval = 250; // ms

    explicit CDMMessage(QObject* parent = nullptr);
    ~CDMMessage() override;

public Q_SLOTS:
    // Emits deviceNodeChanged() when the tree changed since the last look.
    void poll();

Q_SIGNALS:
    void deviceNodeChanged();
    void powerNotification(unsigned long event);

private:
    QTimer m_timer{this};
    quint64 m_count;
};
