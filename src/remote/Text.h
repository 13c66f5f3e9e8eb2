// Conversions between the automation layer's BSTRs and the component's own 8-bit
// texts, which are NUL-terminated strings in the system ANSI code page, and the one
// place where the component allocates a BSTR.
#pragma once

#include "common/Unique.h"

#include <string>

namespace vela {

// A null BSTR gives the empty text. Every character the code page lacks becomes its
// default character, also where the code page has a look-alike. An embedded NUL ends the
// text, as it would for any 8-bit C string.
std::string Narrow(BSTR text);
// The same into another code page: for the code pages an ANSI code page may be.
std::string NarrowTo(UINT codePage, BSTR text);

// A new BSTR the caller owns. Throws std::bad_alloc when it cannot be allocated.
unique_bstr Widen(const std::string& text);

// A new BSTR of `length` characters copied from `text` (left uninitialised when `text`
// is null), or null when it cannot be allocated.
unique_bstr AllocText(const OLECHAR* text, UINT length) noexcept;

// Every BSTR above comes from this function. Tests replace it to run the component out
// of memory; null restores SysAllocStringLen. Returns the previous one.
using TextAllocator = BSTR (*)(const OLECHAR* text, UINT length);
TextAllocator SetTextAllocator(TextAllocator allocator) noexcept;

} // namespace vela
