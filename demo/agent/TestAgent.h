// A programmable, recording stand-in for the remote agent: objects of its three classes
// (ServerAdmin, DnsAdmin, BindDnsAdmin) record every call with its arguments in order,
// answer get_strError with the error text of the object's last operation, and return the
// outcomes set per operation. Unit tests use it in-process; VelaTestAgent.dll serves it
// as a COM server to scripts.
#pragma once

#include "platform/WinIncludes.h"

#include <optional>
#include <string>
#include <vector>

namespace vela::testagent {

// One recorded argument. A null BSTR is distinct from an empty one.
struct Arg {
    enum class Kind { NullText, Text, Integer, OutPointer, NullOutPointer };
    Kind kind = Kind::NullText;
    std::wstring text;             // Text
    long long integer = 0;         // Integer (16- and 32-bit alike)
    const void* pointer = nullptr; // OutPointer: the address the caller handed over

    std::string ToString() const; // "null", "\"text\"" (narrowed, UTF-8), "42", "&out", "null-out"
};

struct Call {
    std::string className; // "ServerAdmin", "DnsAdmin", "BindDnsAdmin"
    int instance = 0;      // 1, 2, ... in activation order since the last Reset, across all three classes
    std::string operation; // "CreateAEntry", "put_Type", "get_strError", ...
    std::vector<Arg> args;
    DWORD thread = 0; // the thread the agent was called on
    // The identity of the token the calling thread impersonated, or 0 when it ran as its
    // process (see ThreadTokenId).
    unsigned long long token = 0;

    // e.g. DnsAdmin#1.CreateAEntry("zone1", "www", "10.0.0.1", &out)
    std::string ToString() const;
};

// What one operation does when called. Unset fields leave the out-value untouched.
// Out-values are written whatever `hr` says (the calls are direct, nothing is marshalled),
// so a test can check that a caller ignores them after a failure. An outcome for
// "get_strError" sets that call's HRESULT, and its errorText (if set) replaces the answer.
struct Outcome {
    HRESULT hr = S_OK;
    std::optional<short> result;           // 16-bit result out-value
    std::optional<std::wstring> errorText; // what get_strError answers after this operation (empty if unset)
    std::optional<std::wstring> text;      // BSTR out-value (GetDNSFile, BackupMailDomain); unset: left null
    std::optional<double> size;            // GetMailFolderSize
    std::optional<long> count;             // GetMailBoxCount
    std::optional<std::wstring> userList;  // GetMEUsersList: a VT_BSTR VARIANT
    bool userListObject = false;           // GetMEUsersList: the agent object itself, as VT_DISPATCH
    bool userListArray = false;            // GetMEUsersList: an array of variants, "u1" and the object
    // How long the operation keeps its caller waiting before it answers, as a hung host
    // would; kUntilReleased waits for ReleaseStalls.
    DWORD stallMs = 0;
};
constexpr DWORD kUntilReleased = INFINITE;

// Process-wide state shared by every agent object.
void Reset();         // forget calls, outcomes and the activation count; release every stall
void ReleaseStalls(); // operations stalled so far answer now
int Stalled();        // calls stalled right now
int PeakStalled();    // the most calls stalled at once since the last Reset
// Throws std::invalid_argument for a class or operation the agent does not have, so that a
// misspelt name fails loudly instead of never matching.
void SetOutcome(const std::string& className, const std::string& operation, const Outcome& outcome);
Outcome GetOutcome(const std::string& className, const std::string& operation); // default if unset
std::vector<Call> Calls();
std::string Journal(); // Calls() one per line
int LiveObjects();     // agent objects not yet released
int Activations();     // agent objects created since Reset

// The token the current thread impersonates, as its identity (TokenStatistics' TokenId),
// or 0 when the thread has none.
unsigned long long ThreadTokenId();

// Creates an agent object of the class `clsid` in-process (E_NOINTERFACE /
// CLASS_E_CLASSNOTAVAILABLE as COM would answer).
HRESULT CreateAgent(REFCLSID clsid, REFIID iid, void** result);

} // namespace vela::testagent
