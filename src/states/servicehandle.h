#pragma once

#include "platform/services.h"

#include <utility>

// Owners of the service control manager's resources: a handle of the manager or of one service
// (closed by CloseServiceHandle) and the service database lock (released by
// UnlockServiceDatabase). Each remembers the service control manager that gave it out and
// gives it back when it goes. Move-only.

namespace winsteps::servicecontrol {

class ServiceHandle
{
public:
    ServiceHandle() = default;
    ServiceHandle(platform::Services& scm, platform::SC_HANDLE handle)
        : m_scm(&scm)
        , m_handle(handle)
    {
    }
    ServiceHandle(ServiceHandle&& other) noexcept
        : m_scm(other.m_scm)
        , m_handle(std::exchange(other.m_handle, platform::SC_HANDLE_NULL))
    {
    }
    ServiceHandle& operator=(ServiceHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_scm = other.m_scm;
            m_handle = std::exchange(other.m_handle, platform::SC_HANDLE_NULL);
        }
        return *this;
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    ~ServiceHandle() { reset(); }

    bool isOpen() const { return m_handle != platform::SC_HANDLE_NULL; }
    platform::SC_HANDLE get() const { return m_handle; }
    // Closes the handle (when open); the holder is then empty.
    void reset()
    {
        if (isOpen())
            m_scm->closeServiceHandle(std::exchange(m_handle, platform::SC_HANDLE_NULL));
    }

private:
    platform::Services* m_scm = nullptr;
    platform::SC_HANDLE m_handle = platform::SC_HANDLE_NULL;
};

// Takes the service database lock of manager when made; releases it when it goes.
class ServiceDatabaseLock
{
public:
    ServiceDatabaseLock(platform::Services& scm, platform::SC_HANDLE manager)
        : m_scm(scm)
    {
        if (m_scm.lockServiceDatabase(manager, &m_lock) != platform::ERROR_SUCCESS)
            m_lock = 0;
    }
    ServiceDatabaseLock(const ServiceDatabaseLock&) = delete;
    ServiceDatabaseLock& operator=(const ServiceDatabaseLock&) = delete;
    ~ServiceDatabaseLock()
    {
        if (m_lock)
            m_scm.unlockServiceDatabase(m_lock);
    }

    bool isLocked() const { return m_lock != 0; }

private:
    platform::Services& m_scm;
    platform::SC_LOCK m_lock = 0;
};

} // namespace winsteps::servicecontrol
