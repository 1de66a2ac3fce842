// The COM class look-ups on ole32: class texts and ProgIDs converted to UTF-16 at the call,
// and a creation test that creates the object and releases it at once.

#include "platform/com.h"
#include "platform/win32/win32util.h"

#include <objbase.h>

#include <cstring>

namespace winsteps::platform {

namespace {

using win32::widen;

static_assert(sizeof(::GUID) == 16, "the layout of a GUID");

::GUID native(const GUID& guid)
{
    ::GUID result{};
    result.Data1 = guid.data1;
    result.Data2 = guid.data2;
    result.Data3 = guid.data3;
    std::memcpy(result.Data4, guid.data4, sizeof result.Data4);
    return result;
}

GUID fromNative(const ::GUID& guid)
{
    GUID result;
    result.data1 = guid.Data1;
    result.data2 = guid.Data2;
    result.data3 = guid.Data3;
    std::memcpy(result.data4, guid.Data4, sizeof result.data4);
    return result;
}

// IID_IUnknown, written out so that no import library of interface ids is needed.
const ::IID unknownInterface = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class Win32Com final : public Com {
public:
    HRESULT clsidFromProgID(const std::string& progId, CLSID* clsid) override
    {
        const std::wstring text = widen(progId);
        ::CLSID found{};
        const HRESULT result = ::CLSIDFromProgID(text.c_str(), &found);
        if (SUCCEEDED(result))
            *clsid = fromNative(found);
        return result;
    }

    HRESULT clsidFromString(const std::string& text, CLSID* clsid) override
    {
        std::wstring wide = widen(text);
        ::CLSID found{};
        const HRESULT result = ::CLSIDFromString(wide.data(), &found);
        if (SUCCEEDED(result))
            *clsid = fromNative(found);
        return result;
    }

    HRESULT coCreateInstance(const CLSID& clsid) override
    {
        const ::CLSID id = native(clsid);
        IUnknown* object = nullptr;
        const HRESULT result =
            ::CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, unknownInterface, reinterpret_cast<void**>(&object));
        if (object)
            object->Release();
        return result;
    }
};

} // namespace

Com& com()
{
    static Win32Com instance;
    return instance;
}

} // namespace winsteps::platform
