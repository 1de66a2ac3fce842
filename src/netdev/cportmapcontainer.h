#pragma once

#include "winsteps_export.h"

#include <QString>

#include <cstdint>

// One requested port mapping, as the port check reads it from its configuration: a plain
// value record. The configuring constructor normalises what it is given: a port outside 1 to
// 65534 is stored as 0 ("not given"), a target that is no IPv4 or IPv6 literal becomes
// "127.0.0.1", and the protocol text ("tcp" or "udp", any case) becomes its IP protocol
// number (6, 17; 0 for anything else).
class WINSTEPS_EXPORT CPortMapContainer
{
public:
    static constexpr std::uint32_t tcp = 6;
    static constexpr std::uint32_t udp = 17;

    CPortMapContainer() = default;
    CPortMapContainer(const QString& description, const QString& protocol, std::uint32_t internalPort,
                      std::uint32_t externalPort, const QString& target, bool open);
    CPortMapContainer(const CPortMapContainer&) = default;
    CPortMapContainer& operator=(const CPortMapContainer&) = default;
    virtual ~CPortMapContainer();

    virtual QString description() const;
    virtual std::uint32_t protocol() const;
    virtual std::uint32_t internalPort() const;
    virtual std::uint32_t externalPort() const;
    virtual QString targetAddress() const;
    // True: the mapping must exist and be enabled; false: it must be disabled.
    virtual bool open() const;
    // Whether the toolkit's host-address parser takes text as an IPv4 or IPv6 literal.
    virtual bool isValidAddress(const QString& text) const;

private:
    QString m_description;
    std::uint32_t m_protocol = 0;
    std::uint32_t m_internalPort = 0;
    std::uint32_t m_externalPort = 0;
    QString m_target;
    bool m_open = false;
};
