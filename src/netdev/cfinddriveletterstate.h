#pragma once

#include "fsm/cstate.h"
#include "winsteps_export.h"

#include <QElapsedTimer>
#include <QTimer>

// "findDriveLetter": finds the drive letter under which the removable volume of a device
// ("deviceId", its instance identifier exactly as the system spells it; typically a USB
// stick that has just been plugged in) is mounted, and publishes it as "driveLetter"
// ("E:\"); leaves by "finished", or by "failed" when no removable drive belongs to the
// device.
//
// A volume belongs to the device whose node is two levels above the volume's node (volume,
// disk, device). The drives are looked at on entry and then every lookInterval ms until the
// volume is found, at most waitLimit ms in all (the system needs a moment to mount a volume
// after a plug). Each look walks the drives anew into a table of its own; only the look that
// decides (the one that finds the letter, or the last one) writes the traces of its walk.
class WINSTEPS_EXPORT CFindDriveLetterState : public CState
{
    Q_OBJECT
public:
    static constexpr int lookInterval = 250;     // ms
    static constexpr int defaultWaitLimit = 5000; // ms

    CFindDriveLetterState(QObject* parent, const char* name, const QDomNode& description);
    ~CFindDriveLetterState() override;

    void execute() override;
    // Stops looking.
    void onLeave() override;

    // How long the state looks before it gives up (for hosts and tests that cannot wait).
    void setWaitLimit(int milliseconds) { m_waitLimit = milliseconds; }
    int waitLimit() const { return m_waitLimit; }

    // The letter text ("E:\") of the removable volume of deviceId; empty when there is none.
    // The traces of the walk are appended to traces.
    static QString findDriveLetter(const QString& stateName, const QString& deviceId, QStringList* traces);

private Q_SLOTS:
    void look();

private:
    QTimer m_timer{this};
    QElapsedTimer m_elapsed;
    int m_waitLimit = defaultWaitLimit;
};
