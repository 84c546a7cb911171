// Owners for COM interface pointers and property values (Windows only).
#pragma once

#include <objbase.h>
#include <propidl.h>

#include <utility>

namespace taskbar {

// Holds one reference to a COM object and releases it when it goes. Move-only; the
// address-of accessor hands the slot to a creating call (CoCreateInstance,
// QueryInterface) after releasing whatever it held.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            m_ptr = std::exchange(other.m_ptr, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    T** put() noexcept {
        reset();
        return &m_ptr;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    void reset() noexcept {
        if (T* old = std::exchange(m_ptr, nullptr)) {
            old->Release();
        }
    }

    // Asks the object for another of its interfaces.
    template <typename U>
    [[nodiscard]] HRESULT as(const IID& iid, ComPtr<U>& out) const noexcept {
        return m_ptr->QueryInterface(iid, out.putVoid());
    }

private:
    T* m_ptr = nullptr;
};

// A PROPVARIANT that is cleared (PropVariantClear) when it goes, whatever it holds.
class PropVariantValue {
public:
    PropVariantValue() noexcept { PropVariantInit(&m_value); }
    ~PropVariantValue() { PropVariantClear(&m_value); }
    PropVariantValue(const PropVariantValue&) = delete;
    PropVariantValue& operator=(const PropVariantValue&) = delete;

    PROPVARIANT& get() noexcept { return m_value; }

private:
    PROPVARIANT m_value;
};

}  // namespace taskbar
