// A command's exchange with the remote object: a function of the connection and of the
// values the command binds to it (the caller's arguments, stored settings, the places its
// results go), called with those values in order. Binding them, rather than letting the
// function reach into the caller's frame and the object, lets the same exchange run on a
// thread that may outlive the call: Detach gives a copy that owns everything it hands on.
//
// What can be bound:
//   BSTR           a text, as received (a copy when detached; null stays null)
//   short, long    a number
//   unique_bstr    a text the exchange owns (what a detached copy holds for a BSTR)
//   Made<F>{text}  a text made from `text` by F (a copy, a pass through the code page) when
//                  the procedure resolves the exchange (Resolve), before anything is
//                  activated: inside the member's exception boundary, and before a
//                  single-threaded caller, waiting for the activation, can take another
//                  call that changes the object's stored texts
//   Into(T* p)     where the agent writes a result: the caller's out-pointer (null passes
//                  null), m_nResult or a call-local value. Detached, the agent writes a copy
//                  that starts as *p; Adopt hands it back to *p when the exchange was on time.
#pragma once

#include "common/Unique.h"
#include "remote/Text.h"

#include <cstring>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

namespace vela {

// What an out-value holds once emptied.
inline void Empty(BSTR& value) noexcept
{
    ::SysFreeString(std::exchange(value, nullptr));
}
inline void Empty(VARIANT& value) noexcept
{
    // One the system cannot clear (a locked array, say) is left empty all the same.
    if (FAILED(::VariantClear(&value))) ::VariantInit(&value);
}
template <typename Number> void Empty(Number& value) noexcept
{
    value = Number{};
}

// What a result place held before the agent could write it, as bits: whatever differs
// later was written by the agent, and is the component's to hand on or to empty.
template <typename T> class Given {
public:
    Given() noexcept = default;
    explicit Given(const T* place) noexcept
    {
        if (place) std::memcpy(&m_value, place, sizeof(T));
    }
    const T& value() const noexcept { return m_value; }
    bool ChangedIn(const T& now) const noexcept { return std::memcmp(&m_value, &now, sizeof(T)) != 0; }

private:
    T m_value{};
};

template <unique_bstr (*Make)(BSTR)> struct Made {
    BSTR source;
};

template <typename T> struct Slot {
    T* target;
};
template <typename T> Slot<T> Into(T* target) noexcept
{
    return {target};
}

// Calls `visit(slot, iid)` for every interface that `value` holds, itself or inside its
// arrays (of interfaces, or of variants at any depth), with the interface it stands for.
template <typename Visit> void ForEachInterface(VARIANT& value, Visit&& visit) noexcept
{
    const VARTYPE type = V_VT(&value);
    if (type == VT_UNKNOWN || type == VT_DISPATCH) {
        visit(V_UNKNOWN(&value), type == VT_DISPATCH ? IID_IDispatch : IID_IUnknown);
        return;
    }
    const VARTYPE element = type & VT_TYPEMASK;
    SAFEARRAY* const array = (type & VT_ARRAY) && !(type & VT_BYREF) ? V_ARRAY(&value) : nullptr;
    if (!array || (element != VT_UNKNOWN && element != VT_DISPATCH && element != VT_VARIANT) ||
        FAILED(::SafeArrayLock(array)))
        return;
    ULONG count = 1;
    for (USHORT d = 0; d < array->cDims; ++d)
        count *= array->rgsabound[d].cElements;
    for (ULONG i = 0; i < count; ++i) {
        if (element == VT_VARIANT)
            ForEachInterface(static_cast<VARIANT*>(array->pvData)[i], visit);
        else
            visit(static_cast<IUnknown**>(array->pvData)[i],
                  element == VT_DISPATCH ? IID_IDispatch : IID_IUnknown);
    }
    ::SafeArrayUnlock(array);
}

// A result place of a detached exchange: the agent writes `m_value`, which started as what
// the target held.
template <typename T> class SlotCopy {
public:
    explicit SlotCopy(T* target) noexcept : m_target(target), m_initial(target)
    {
        std::memcpy(&m_value, &m_initial.value(), sizeof(T));
    }
    SlotCopy(SlotCopy&& other) noexcept
        : m_target(std::exchange(other.m_target, nullptr)), m_initial(other.m_initial),
          m_marshalled(other.m_marshalled)
    {
        std::memcpy(&m_value, &other.m_value, sizeof(T));
    }
    SlotCopy(const SlotCopy&) = delete;
    SlotCopy& operator=(const SlotCopy&) = delete;
    SlotCopy& operator=(SlotCopy&&) = delete;
    ~SlotCopy() = default;

    T* Pass() noexcept { return m_target ? &m_value : nullptr; }

    // On the worker, once the exchange is done: an interface the agent handed back, alone or
    // in an array, belongs to the worker's apartment, so each travels to the caller's as a
    // marshalled stream, kept in the interface's own place until Adopt.
    void HandOver() noexcept
    {
        if constexpr (std::is_same_v<T, VARIANT>) {
            if (!m_target || !Written()) return;
            ForEachInterface(m_value, [](IUnknown*& place, REFIID iid) {
                IStream* stream = nullptr;
                if (place && FAILED(::CoMarshalInterThreadInterfaceInStream(iid, place, &stream)))
                    stream = nullptr;
                if (place) place->Release();
                place = stream;
            });
            m_marshalled = true;
        }
    }

    // On the caller's thread: the result is the target's now.
    void Adopt() noexcept
    {
        if constexpr (std::is_same_v<T, VARIANT>) {
            if (std::exchange(m_marshalled, false))
                ForEachInterface(m_value, [](IUnknown*& place, REFIID iid) {
                    auto* stream = static_cast<IStream*>(std::exchange(place, nullptr));
                    // The caller's own proxy, or nothing when it cannot be made.
                    if (stream && FAILED(::CoGetInterfaceAndReleaseStream(stream, iid,
                                                                          reinterpret_cast<void**>(&place))))
                        place = nullptr;
                });
        }
        if (m_target) std::memcpy(m_target, &m_value, sizeof(T));
        m_target = nullptr;
    }

    // On the worker, when the caller no longer waits: what the agent wrote is nobody's.
    void Discard() noexcept
    {
        if (!m_target || !Written()) return;
        if constexpr (std::is_same_v<T, VARIANT>) {
            if (std::exchange(m_marshalled, false))
                ForEachInterface(m_value, [](IUnknown*& place, REFIID) {
                    if (auto* stream = static_cast<IStream*>(std::exchange(place, nullptr))) {
                        ::CoReleaseMarshalData(stream);
                        stream->Release();
                    }
                });
        }
        Empty(m_value);
        m_target = nullptr;
    }

private:
    bool Written() const noexcept { return m_initial.ChangedIn(m_value); }

    T* m_target;
    Given<T> m_initial;
    T m_value{};
    bool m_marshalled = false; // interfaces in m_value are streams for the caller's apartment
};

// --- What each bound value hands to the agent -----------------------------------------------

inline BSTR Pass(BSTR text) noexcept
{
    return text;
}
inline BSTR Pass(const unique_bstr& text) noexcept
{
    return text.get();
}
inline short Pass(short number) noexcept
{
    return number;
}
inline long Pass(long number) noexcept
{
    return number;
}
template <typename T> T* Pass(Slot<T> slot) noexcept
{
    return slot.target;
}
template <typename T> T* Pass(SlotCopy<T>& slot) noexcept
{
    return slot.Pass();
}

// --- What each bound value becomes in a detached exchange -----------------------------------

// A copy of `text`, null for null.
inline unique_bstr Duplicate(BSTR text)
{
    if (!text) return {};
    unique_bstr copy = AllocText(text, ::SysStringLen(text));
    if (!copy) throw std::bad_alloc();
    return copy;
}

inline unique_bstr Detach(BSTR text)
{
    return Duplicate(text);
}
inline unique_bstr Detach(unique_bstr&& text) noexcept
{
    return std::move(text);
}
inline short Detach(short number) noexcept
{
    return number;
}
inline long Detach(long number) noexcept
{
    return number;
}
template <typename T> SlotCopy<T> Detach(Slot<T> slot) noexcept
{
    return SlotCopy<T>(slot.target);
}

// --- What each bound value becomes once resolved ------------------------------------------

template <typename T> T Resolve(T&& value) noexcept
{
    return std::move(value);
}
template <unique_bstr (*Make)(BSTR)> unique_bstr Resolve(Made<Make>&& made)
{
    return Make(made.source);
}

template <typename T> void HandOver(T&) noexcept {}
template <typename T> void HandOver(SlotCopy<T>& slot) noexcept
{
    slot.HandOver();
}
template <typename T> void Adopt(T&) noexcept {}
template <typename T> void Adopt(SlotCopy<T>& slot) noexcept
{
    slot.Adopt();
}
template <typename T> void Discard(T&) noexcept {}
template <typename T> void Discard(SlotCopy<T>& slot) noexcept
{
    slot.Discard();
}

template <typename Function, typename... Bound> class BoundExchange {
public:
    explicit BoundExchange(Function function, Bound... bound)
        : m_function(function), m_bound(std::move(bound)...)
    {
    }

    template <typename Connection> HRESULT operator()(Connection& connection)
    {
        return std::apply([&](auto&... bound) { return m_function(connection, Pass(bound)...); }, m_bound);
    }

    // The same exchange with its made texts made now.
    auto Resolve() &&
    {
        return std::move(*this).Converted([](auto&& bound) { return vela::Resolve(std::move(bound)); });
    }

    // A copy that owns every text it hands on and keeps results in places of its own.
    auto Detach() &&
    {
        return std::move(*this).Converted([](auto&& bound) { return vela::Detach(std::move(bound)); });
    }

    void HandOver() noexcept
    {
        std::apply([](auto&... bound) { (vela::HandOver(bound), ...); }, m_bound);
    }
    void Adopt() noexcept
    {
        std::apply([](auto&... bound) { (vela::Adopt(bound), ...); }, m_bound);
    }
    void Discard() noexcept
    {
        std::apply([](auto&... bound) { (vela::Discard(bound), ...); }, m_bound);
    }

private:
    // The same exchange with each bound value replaced by what `convert` makes of it.
    template <typename Convert> auto Converted(Convert convert) &&
    {
        return std::apply(
            [&](auto&... bound) {
                return BoundExchange<Function, decltype(convert(std::move(bound)))...>(
                    m_function, convert(std::move(bound))...);
            },
            m_bound);
    }

    Function m_function;
    std::tuple<Bound...> m_bound;
};

// An exchange: `function(connection, values...)`.
template <typename Function, typename... Bound> auto Exchange(Function function, Bound... bound)
{
    return BoundExchange<Function, Bound...>(function, std::move(bound)...);
}

// An exchange that is one remote operation called with the bound values.
template <typename Interface, typename... Parameters, typename... Bound>
auto Call(HRESULT (STDMETHODCALLTYPE Interface::*operation)(Parameters...), Bound... bound)
{
    return Exchange([operation](auto& connection,
                                auto... values) { return (connection.operator->()->*operation)(values...); },
                    std::move(bound)...);
}

} // namespace vela
