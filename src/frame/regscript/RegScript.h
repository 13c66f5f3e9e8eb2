// The registry script engine used by self-registration. A script lists keys and
// values below root keys:
//
//     HKCR
//     {
//         Some.ProgId = s 'Description'
//         {
//             CLSID = s '{...}'
//         }
//         NoRemove CLSID { ForceRemove {...} = s 'Class' { val ThreadingModel = s 'Apartment' } }
//     }
//
// Register mode writes them; unregister mode removes what the script names, keeping
// shared keys that other software has added to.
#pragma once

#include "frame/regscript/RegistryStore.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vela::regscript {

// HRESULTs the engine returns, spelled out so that this code needs no platform header.
inline constexpr std::int32_t kS_OK = 0;
inline constexpr std::int32_t kE_FAIL = static_cast<std::int32_t>(0x80004005u);
inline constexpr std::int32_t kE_OUTOFMEMORY = static_cast<std::int32_t>(0x8007000Eu);
inline constexpr std::int32_t kE_UNEXPECTED = static_cast<std::int32_t>(0x8000FFFFu);
// Syntax errors, unknown roots and value types, compound key names, keys that cannot be created.
inline constexpr std::int32_t kDISP_E_EXCEPTION = static_cast<std::int32_t>(0x80020009u);

// Longest name between "%" signs, and the byte limits of the script text.
inline constexpr std::size_t kMaxReplacementName = 31;
inline constexpr std::size_t kMaxTokenBytes = 4094;
inline constexpr std::size_t kMaxRememberedKeyName = 259;

enum class ScriptMode {
    Register,
    Unregister,
};

// Names (matched case-insensitively) and the 8-bit ANSI texts that replace "%name%".
// The caller prepares the values for the tokenizer: a value that ends up inside a quoted
// token needs its single quotes doubled.
using ReplacementMap = std::vector<std::pair<std::string, std::string>>;

// Runs `script` in `mode` against `store`. The script ends at its first zero byte, if any.
// Returns S_OK or the failure HRESULT: 0x80020009 for syntax errors, unknown roots or value
// types, compound key names and keys that cannot be created; 0x80004005 for an odd number of
// binary digits or a replacement name over 31 characters; E_OUTOFMEMORY when memory runs out.
// In register mode a failing root block is undone by running it once more in unregister mode;
// that run stops at the same failure, so keys enclosing the failing entry may stay.
std::int32_t RunRegistryScript(std::string_view script, const ReplacementMap& replacements, ScriptMode mode,
                               RegistryStore& store) noexcept;

// The replacement step on its own: "%%" becomes "%", "%name%" its value.
std::int32_t ExpandRegistryScript(std::string_view script, const ReplacementMap& replacements,
                                  const RegistryStore& store, std::string* expanded) noexcept;

} // namespace vela::regscript
