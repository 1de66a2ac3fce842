#pragma once

// What the Windows backend's wrappers of automation objects share: owned interface pointers,
// BSTR text, the interface's GUIDs as Windows lays them out, and the walk over an
// automation collection.
//
// Include the interface headers before this one (see win32util.h).

#include "platform/com.h"
#include "platform/win32/win32util.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <memory>
#include <string>

namespace winsteps::platform::win32 {

inline ::GUID nativeGuid(const GUID& guid)
{
    ::GUID result{};
    result.Data1 = guid.data1;
    result.Data2 = guid.data2;
    result.Data3 = guid.data3;
    std::memcpy(result.Data4, guid.data4, sizeof result.Data4);
    return result;
}

// An interface pointer owned by a shared holder: the last holder releases it.
template <typename T>
std::shared_ptr<T> owned(T* object)
{
    return std::shared_ptr<T>(object, [](T* p) {
        if (p)
            p->Release();
    });
}

// A BSTR made from UTF-8 text, freed when it goes; null when there was no memory.
class Bstr {
public:
    explicit Bstr(const std::string& text)
    {
        const std::wstring wide = widen(text);
        m_text = ::SysAllocStringLen(wide.data(), UINT(wide.size()));
    }
    Bstr() = default;
    ~Bstr() { ::SysFreeString(m_text); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return m_text; }
    BSTR* out() { return &m_text; }
    std::string text() const { return m_text ? narrow(m_text, ::SysStringLen(m_text)) : std::string(); }

private:
    BSTR m_text = nullptr;
};

// A BSTR property read into UTF-8 text: the getter's HRESULT.
template <typename Getter>
::HRESULT readText(Getter get, std::string* out)
{
    if (!out)
        return E_POINTER;
    Bstr text;
    const ::HRESULT result = get(text.out());
    if (SUCCEEDED(result))
        *out = text.text();
    return result;
}

// Walks an automation collection (its _NewEnum as IEnumVARIANT) and hands each element that
// is an object reference (VT_UNKNOWN) to visit; elements of other types are skipped.
template <typename Collection, typename Visit>
::HRESULT forEachObject(Collection* collection, Visit visit)
{
    static const ::IID enumVariant = {0x00020404, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    IUnknown* unknown = nullptr;
    ::HRESULT result = collection->get__NewEnum(&unknown);
    if (FAILED(result))
        return result;
    const std::shared_ptr<IUnknown> newEnum = owned(unknown);
    IEnumVARIANT* items = nullptr;
    result = newEnum->QueryInterface(enumVariant, reinterpret_cast<void**>(&items));
    if (FAILED(result))
        return result;
    const std::shared_ptr<IEnumVARIANT> walk = owned(items);
    VARIANT item;
    ::VariantInit(&item);
    while (walk->Next(1, &item, nullptr) == S_OK) {
        if (V_VT(&item) == VT_UNKNOWN && V_UNKNOWN(&item))
            visit(V_UNKNOWN(&item));
        ::VariantClear(&item);
    }
    return S_OK;
}

} // namespace winsteps::platform::win32
