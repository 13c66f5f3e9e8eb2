// Ownership of platform resources: one RAII template, one line per resource kind.
#pragma once

#include "platform/WinIncludes.h"

#include <utility>

namespace vela {

template <typename Traits> class unique_any {
public:
    using pointer = typename Traits::type;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : m_value(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() noexcept { reset(); }

    pointer get() const noexcept { return m_value; }
    bool is_valid() const noexcept { return m_value != Traits::invalid(); }
    explicit operator bool() const noexcept { return is_valid(); }

    void reset(pointer value = Traits::invalid()) noexcept
    {
        if (is_valid()) Traits::close(m_value);
        m_value = value;
    }
    pointer release() noexcept { return std::exchange(m_value, Traits::invalid()); }
    // Frees the current value and hands out its address for an API to fill.
    pointer* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    pointer m_value = Traits::invalid();
};

namespace traits {
struct bstr {
    using type = BSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type v) noexcept { ::SysFreeString(v); }
};
struct hkey {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type v) noexcept { ::RegCloseKey(v); }
};
// File handles: the platform's invalid value is never kept, null stands for "none".
struct handle {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type v) noexcept { ::CloseHandle(v); }
};
struct hlocal {
    using type = HLOCAL;
    static type invalid() noexcept { return nullptr; }
    static void close(type v) noexcept { ::LocalFree(v); }
};
struct hmodule {
    using type = HMODULE;
    static type invalid() noexcept { return nullptr; }
    static void close(type v) noexcept { ::FreeLibrary(v); }
};
} // namespace traits

using unique_bstr = unique_any<traits::bstr>;
using unique_hkey = unique_any<traits::hkey>;
using unique_handle = unique_any<traits::handle>;
using unique_hlocal = unique_any<traits::hlocal>;
using unique_hmodule = unique_any<traits::hmodule>;

// A counted interface reference.
template <typename T> class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(std::nullptr_t) noexcept {}
    explicit com_ptr(T* p) noexcept : m_p(p)
    {
        if (m_p) m_p->AddRef();
    }
    com_ptr(const com_ptr& o) noexcept : com_ptr(o.m_p) {}
    com_ptr(com_ptr&& o) noexcept : m_p(o.detach()) {}
    com_ptr& operator=(com_ptr o) noexcept
    {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~com_ptr() noexcept { reset(); }

    // Takes over a reference the caller already owns.
    static com_ptr attach(T* p) noexcept
    {
        com_ptr r;
        r.m_p = p;
        return r;
    }
    T* detach() noexcept { return std::exchange(m_p, nullptr); }
    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    void reset() noexcept
    {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    T** put() noexcept
    {
        reset();
        return &m_p;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    template <typename U> com_ptr<U> try_query() const noexcept
    {
        com_ptr<U> r;
        if (m_p) m_p->QueryInterface(__uuidof(U), r.put_void());
        return r;
    }

private:
    T* m_p = nullptr;
};

} // namespace vela
