#include "remote/Failure.h"

#include "common/Format.h"

#include <cstring>

namespace vela {

namespace {

constexpr DWORD kAllocateFromSystem = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kUserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
constexpr size_t kFallbackSize = 32;

// HRESULTs from 0x80040200 up are the range that automation servers use for their own
// dispatch errors; their offset into the range is what a user can look up.
WORD DispatchCode(HRESULT hr) noexcept
{
    const auto code = static_cast<DWORD>(hr);
    if (code >= 0x80040200u && code <= 0x8004FFFFu) return static_cast<WORD>(code - 0x80040200u);
    return 0;
}

char* SystemMessage(HRESULT hr) noexcept
{
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(kAllocateFromSystem, nullptr, static_cast<DWORD>(hr),
                                          kUserDefaultLanguage, reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0 || !text) return nullptr;
    // Cut one trailing CR LF pair, and nothing else; a one-character text stays as it is.
    size_t size = std::strlen(text);
    if (size > 1 && text[size - 1] == '\n') {
        text[--size] = '\0';
        if (size > 0 && text[size - 1] == '\r') text[--size] = '\0';
    }
    return text;
}

char* FallbackMessage(HRESULT hr) noexcept
{
    auto* text = static_cast<char*>(::LocalAlloc(LMEM_FIXED, kFallbackSize));
    if (!text) return nullptr;
    if (const WORD code = DispatchCode(hr))
        std::snprintf(text, kFallbackSize, "IDispatch error #%d", static_cast<int>(code));
    else
        std::snprintf(text, kFallbackSize, "Unknown error 0x%0lX", static_cast<unsigned long>(hr));
    return text;
}

} // namespace

const char* Failure::MessageText() const noexcept
{
    if (!m_computed) {
        char* text = SystemMessage(code());
        if (!text) text = FallbackMessage(code());
        try {
            m_message = std::shared_ptr<char>(text, LocalFreeDeleter{});
        } catch (...) {
            // shared_ptr frees the text itself when it cannot allocate its control block.
        }
        m_computed = true;
    }
    return m_message.get();
}

std::string Failure::ErrorText() const
{
    return Format("%s[%x]", {MessageText(), static_cast<long>(code())});
}

void Raise(HRESULT hr)
{
    throw Failure(hr);
}

} // namespace vela
