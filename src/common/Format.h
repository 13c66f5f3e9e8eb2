// printf-style formatting into std::string without fixed buffers, for the system's
// message templates ("%s", "%d", "%x", "%X", "%lX" with optional 0 flag, and "%%").
// Plain standard C++: also built natively for sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vela {

class FormatArg {
public:
    FormatArg(std::string_view text) noexcept : m_text(text), m_isText(true) {}
    FormatArg(const std::string& text) noexcept : m_text(text), m_isText(true) {}
    FormatArg(const char* text) noexcept : m_text(text ? text : ""), m_isText(true) {}
    FormatArg(long long number) noexcept : m_number(number) {}
    FormatArg(long number) noexcept : m_number(number) {}
    FormatArg(int number) noexcept : m_number(number) {}
    FormatArg(short number) noexcept : m_number(number) {}
    FormatArg(unsigned long number) noexcept : m_number(static_cast<long long>(number)) {}
    FormatArg(unsigned int number) noexcept : m_number(number) {}

    bool isText() const noexcept { return m_isText; }
    std::string_view text() const noexcept { return m_text; }
    long long number() const noexcept { return m_number; }

private:
    std::string_view m_text;
    long long m_number = 0;
    bool m_isText = false;
};

// Formats `pattern` with `args` in order. A conversion without a matching argument
// expands to nothing; surplus arguments are ignored; text arguments are copied whole.
std::string Format(std::string_view pattern, const FormatArg* args, std::size_t count);
inline std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args)
{
    return Format(pattern, args.begin(), args.size());
}

} // namespace vela
