#include "remote/Text.h"

#include <atomic>
#include <climits>
#include <new>

namespace vela {

namespace {

BSTR SystemAllocText(const OLECHAR* text, UINT length)
{
    return ::SysAllocStringLen(text, length);
}

std::atomic<TextAllocator> g_allocText{&SystemAllocText};

// No best-fit mapping: a character the code page lacks becomes its default character,
// never a look-alike that it has ("ex\u0101mple.org" must not reach an agent as
// "example.org", another customer's domain; a fullwidth comma must not split a record).
constexpr DWORD kNarrowFlags = WC_NO_BEST_FIT_CHARS;

} // namespace

unique_bstr AllocText(const OLECHAR* text, UINT length) noexcept
{
    return unique_bstr(g_allocText.load()(text, length));
}

TextAllocator SetTextAllocator(TextAllocator allocator) noexcept
{
    return g_allocText.exchange(allocator ? allocator : &SystemAllocText);
}

std::string NarrowTo(UINT codePage, BSTR text)
{
    const UINT length = text ? ::SysStringLen(text) : 0;
    if (length == 0) return {};
    // The platform converts at most INT_MAX characters in one call; a BSTR never holds more.
    const int wideLength = static_cast<int>(length > INT_MAX ? INT_MAX : length);
    DWORD flags = kNarrowFlags;
    int size = ::WideCharToMultiByte(codePage, flags, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (size <= 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
        // UTF-8 ("Use Unicode UTF-8" on Windows) and GB18030 take no flags: they hold every
        // character, so there is nothing to map to a look-alike anyway.
        flags = 0;
        size = ::WideCharToMultiByte(codePage, flags, text, wideLength, nullptr, 0, nullptr, nullptr);
    }
    if (size <= 0) return {};
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, flags, text, wideLength, narrow.data(), size, nullptr, nullptr);
    narrow.resize(narrow.find('\0') == std::string::npos ? narrow.size() : narrow.find('\0'));
    return narrow;
}

std::string Narrow(BSTR text)
{
    return NarrowTo(CP_ACP, text);
}

unique_bstr Widen(const std::string& text)
{
    const int length = static_cast<int>(text.size() > INT_MAX ? INT_MAX : text.size());
    const int wideLength =
        length == 0 ? 0 : ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    unique_bstr wide = AllocText(nullptr, static_cast<UINT>(wideLength > 0 ? wideLength : 0));
    if (!wide) throw std::bad_alloc();
    if (wideLength > 0) ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.get(), wideLength);
    return wide;
}

} // namespace vela
