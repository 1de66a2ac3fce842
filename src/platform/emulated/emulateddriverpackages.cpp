#include "platform/driverpackages.h"

namespace winsteps::platform {

namespace {

class EmulatedDriverPackages final : public DriverPackages {
public:
    std::uint32_t copyOemInf(const std::string&, const std::string&, std::uint32_t, std::string*) override
    {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    std::uint32_t oemInfs(std::vector<std::string>*) override { return ERROR_CALL_NOT_IMPLEMENTED; }
    std::uint32_t updateDriverForPlugAndPlayDevices(const std::string&, const std::string&, std::uint32_t,
                                                    bool*) override
    {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    std::uint32_t installOnNode(const std::string&, const std::string&, bool*) override
    {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    std::uint32_t removeNode(const std::string&, bool*) override { return ERROR_CALL_NOT_IMPLEMENTED; }
};

} // namespace

DriverPackages& driverPackages()
{
    static EmulatedDriverPackages instance;
    return instance;
}

} // namespace winsteps::platform
