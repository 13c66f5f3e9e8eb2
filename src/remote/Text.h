// Conversions between the automation layer's BSTRs and the component's own 8-bit
// texts, which are NUL-terminated strings in the system ANSI code page.
#pragma once

#include "common/Unique.h"

#include <string>

namespace vela {

// A null BSTR gives the empty text. Characters the code page lacks become its default
// character. An embedded NUL ends the text, as it would for any 8-bit C string.
std::string Narrow(BSTR text);

// A new BSTR the caller owns. Throws std::bad_alloc when it cannot be allocated.
unique_bstr Widen(const std::string& text);

} // namespace vela
