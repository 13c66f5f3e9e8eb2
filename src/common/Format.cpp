#include "common/Format.h"

#include <cstdio>

namespace vela {

namespace {

// Numbers are printed as their C counterparts would print them: %d signed decimal,
// %x/%X the 32-bit two's-complement value (an HRESULT is a negative long).
void AppendNumber(std::string& out, char conversion, long long value)
{
    char buffer[32];
    switch (conversion) {
    case 'd':
    case 'i':
        std::snprintf(buffer, sizeof buffer, "%lld", value);
        break;
    case 'u':
        std::snprintf(buffer, sizeof buffer, "%lu",
                      static_cast<unsigned long>(static_cast<std::uint32_t>(value)));
        break;
    case 'x':
        std::snprintf(buffer, sizeof buffer, "%lx",
                      static_cast<unsigned long>(static_cast<std::uint32_t>(value)));
        break;
    default:
        std::snprintf(buffer, sizeof buffer, "%lX",
                      static_cast<unsigned long>(static_cast<std::uint32_t>(value)));
        break;
    }
    out += buffer;
}

} // namespace

std::string Format(std::string_view pattern, const FormatArg* args, std::size_t count)
{
    std::string out;
    out.reserve(pattern.size() + 64);
    const FormatArg* next = args;
    const FormatArg* const end = args + count;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c != '%' || i + 1 == pattern.size()) {
            out += c;
            continue;
        }
        ++i;
        if (pattern[i] == '%') {
            out += '%';
            continue;
        }
        // Flags and length modifiers carry no meaning for the templates we format:
        // "%0lX" prints the same as "%X" (zero padding without a width pads nothing).
        while (i < pattern.size() && (pattern[i] == '0' || pattern[i] == 'l' || pattern[i] == 'h'))
            ++i;
        if (i == pattern.size()) break;
        const char conversion = pattern[i];
        if (next == end) continue;
        const FormatArg& arg = *next++;
        if (conversion == 's') {
            if (arg.isText())
                out += arg.text();
            else
                AppendNumber(out, 'd', arg.number());
        } else {
            AppendNumber(out, conversion, arg.isText() ? 0 : arg.number());
        }
    }
    return out;
}

} // namespace vela
