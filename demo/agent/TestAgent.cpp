// The recording stand-in for the remote agent. An agent object is laid out as COM sees it:
// the address of a function table first. Each class's table is built from its operation
// list (AgentOperations.h), one entry per slot; an entry's parameter types come from the
// interface's declaration in the header compiled from the agent's IDL, so no signature is
// written twice. All state is process-wide and guarded by one mutex: the component under
// test, the agent objects and a script's control object may share one process.
#include "TestAgent.h"

#include "AgentOperations.h"
#include "common/Result.h"
#include "common/Unique.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>

namespace vela::testagent {

namespace {

struct State {
    std::mutex lock;
    std::vector<Call> calls;
    std::map<std::pair<std::string, std::string>, Outcome> outcomes;
    int activations = 0;
    std::atomic<int> liveObjects{0};
    std::atomic<int> stalled{0};
    std::atomic<int> peakStalled{0};
    // Signalled to end the stalls begun before it; each release starts a fresh one, so a
    // stall never outlives its event.
    std::shared_ptr<unique_handle> release = NewReleaseEvent();

    static std::shared_ptr<unique_handle> NewReleaseEvent()
    {
        return std::make_shared<unique_handle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
};

State& TheState()
{
    static State state;
    return state;
}

// Runs `f` on the state under its lock.
template <typename F> auto Locked(F&& f)
{
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    return f(s);
}

Outcome FindOutcome(const State& s, const std::string& className, const std::string& operation)
{
    const auto found = s.outcomes.find({className, operation});
    return found == s.outcomes.end() ? Outcome{} : found->second;
}

std::string Narrow(std::wstring_view text)
{
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, result.data(), needed, nullptr, nullptr);
    return result;
}

// A BSTR keeps its length, so embedded nulls survive the copy.
BSTR AllocText(const std::wstring& text) noexcept
{
    return ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

template <typename T> Arg MakeArg(const T& value)
{
    Arg arg;
    if constexpr (std::is_same_v<T, BSTR>) {
        if (value) {
            arg.kind = Arg::Kind::Text;
            arg.text.assign(value, ::SysStringLen(value));
        }
    } else if constexpr (std::is_integral_v<T>) {
        arg.kind = Arg::Kind::Integer;
        arg.integer = value;
    } else if constexpr (std::is_pointer_v<T>) {
        arg.kind = value ? Arg::Kind::OutPointer : Arg::Kind::NullOutPointer;
        arg.pointer = value;
    }
    return arg; // anything else (the IID of an IDispatch entry) is recorded as null
}

// Writes the programmed out-value of the pointer's type; never through a null pointer.
// `self` is the agent object, for a list answered with an object.
template <typename T> void WriteOut(const Outcome& o, const T& out, HRESULT& hr, IDispatch* self) noexcept
{
    if constexpr (std::is_same_v<T, short*>) {
        if (out && o.result) *out = *o.result;
    } else if constexpr (std::is_same_v<T, LONG*>) {
        if (out && o.count) *out = *o.count;
    } else if constexpr (std::is_same_v<T, double*>) {
        if (out && o.size) *out = *o.size;
    } else if constexpr (std::is_same_v<T, BSTR*>) {
        if (out && o.text && !(*out = AllocText(*o.text))) hr = E_OUTOFMEMORY;
    } else if constexpr (std::is_same_v<T, VARIANT*>) {
        if (out && o.userListObject) {
            self->AddRef();
            V_VT(out) = VT_DISPATCH;
            V_DISPATCH(out) = self;
        }
        if (out && o.userListArray) {
            SAFEARRAY* list = ::SafeArrayCreateVector(VT_VARIANT, 0, 2);
            if (!list) {
                hr = E_OUTOFMEMORY;
                return;
            }
            auto* items = static_cast<VARIANT*>(list->pvData);
            V_VT(&items[0]) = VT_BSTR;
            V_BSTR(&items[0]) = ::SysAllocString(L"u1");
            self->AddRef();
            V_VT(&items[1]) = VT_DISPATCH;
            V_DISPATCH(&items[1]) = self;
            V_VT(out) = VT_ARRAY | VT_VARIANT;
            V_ARRAY(out) = list;
        }
        if (!out || !o.userList) return;
        ::VariantInit(out);
        V_VT(out) = VT_BSTR;
        if (!(V_BSTR(out) = AllocText(*o.userList))) hr = E_OUTOFMEMORY;
    }
}

using Entry = void (*)();

// One class: its function table, and the name of the operation at each place. Slot s sits
// at place 6 + s; slots -6 to 0 are the IUnknown and IDispatch entries.
struct AgentClass {
    std::string name;
    const CLSID* clsid;
    const IID* iid;
    std::vector<Entry> table;
    std::vector<std::string> names;
};

class Agent {
public:
    explicit Agent(const AgentClass& agentClass) : m_table(agentClass.table.data()), m_class(agentClass)
    {
        m_instance = Locked([](State& s) {
            ++s.liveObjects;
            return ++s.activations;
        });
    }
    ~Agent() { --TheState().liveObjects; }

    static HRESULT STDMETHODCALLTYPE QueryInterface(Agent* self, REFIID iid, void** result) noexcept
    {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != *self->m_class.iid) return E_NOINTERFACE;
        *result = self;
        AddRef(self);
        return S_OK;
    }
    static ULONG STDMETHODCALLTYPE AddRef(Agent* self) noexcept { return ++self->m_refs; }
    static ULONG STDMETHODCALLTYPE Release(Agent* self) noexcept
    {
        const ULONG left = --self->m_refs;
        if (left == 0) delete self;
        return left;
    }

    // Records the call, then answers as programmed: after its stall, if it has one, the
    // outcome's out-values go to the out-pointers among `args`, its error text becomes this
    // object's last error. A stall holds no lock: other calls and the test go on meanwhile.
    template <typename... A> HRESULT Op(int slot, A... args) noexcept
    {
        return ComBoundary([&]() -> HRESULT {
            const std::string& operation = m_class.names[6 + slot];
            Outcome outcome;
            std::shared_ptr<unique_handle> release;
            const bool known = Locked([&](State& s) {
                s.calls.push_back(Call{m_class.name,
                                       m_instance,
                                       operation,
                                       {MakeArg(args)...},
                                       ::GetCurrentThreadId(),
                                       ThreadTokenId()});
                // The component must call the agent by place only; the journal shows if it does not.
                if (slot <= 0) return false;
                outcome = FindOutcome(s, m_class.name, operation);
                release = s.release;
                return true;
            });
            if (!known) return E_NOTIMPL;
            if (outcome.stallMs) {
                State& s = TheState();
                const int now = ++s.stalled;
                for (int peak = s.peakStalled;
                     now > peak && !s.peakStalled.compare_exchange_weak(peak, now);) {
                }
                ::WaitForSingleObject(release->get(), outcome.stallMs);
                --s.stalled;
            }
            return Locked([&](State&) {
                if (operation == "get_strError") {
                    outcome.text = outcome.errorText.value_or(m_lastError);
                } else {
                    m_lastError = outcome.errorText.value_or(std::wstring());
                }
                HRESULT hr = outcome.hr;
                (WriteOut(outcome, args, hr, reinterpret_cast<IDispatch*>(this)), ...);
                return hr;
            });
        });
    }

private:
    const Entry* m_table; // first: where COM looks for the function table
    const AgentClass& m_class;
    int m_instance = 0;
    std::atomic<ULONG> m_refs{1};
    std::wstring m_lastError; // guarded by the state's lock
};

// The function-table entry for the interface member `member` at `slot`: a function with
// the member's parameters that records the call under the slot's name.
template <int Slot, typename I, typename... A> Entry EntryFor(HRESULT (STDMETHODCALLTYPE I::*)(A...))
{
    struct Thunk {
        static HRESULT STDMETHODCALLTYPE Call(I* self, A... args) noexcept
        {
            return reinterpret_cast<Agent*>(self)->Op(Slot, args...);
        }
    };
    return reinterpret_cast<Entry>(&Thunk::Call);
}

struct Operation {
    int slot;
    const char* name;
    Entry entry;
};

AgentClass MakeClass(const char* name, const CLSID& clsid, const IID& iid,
                     std::initializer_list<Operation> operations)
{
    const Operation common[] = {
        {-6, "QueryInterface", reinterpret_cast<Entry>(&Agent::QueryInterface)},
        {-5, "AddRef", reinterpret_cast<Entry>(&Agent::AddRef)},
        {-4, "Release", reinterpret_cast<Entry>(&Agent::Release)},
        {-3, "GetTypeInfoCount", EntryFor<-3>(&IDispatch::GetTypeInfoCount)},
        {-2, "GetTypeInfo", EntryFor<-2>(&IDispatch::GetTypeInfo)},
        {-1, "GetIDsOfNames", EntryFor<-1>(&IDispatch::GetIDsOfNames)},
        {0, "Invoke", EntryFor<0>(&IDispatch::Invoke)},
    };
    AgentClass result{name, &clsid, &iid, std::vector<Entry>(7 + operations.size()),
                      std::vector<std::string>(7 + operations.size())};
    const auto place = [&result](const Operation& op) {
        result.table.at(6 + op.slot) = op.entry;
        result.names.at(6 + op.slot) = op.name;
    };
    for (const Operation& op : common)
        place(op);
    for (const Operation& op : operations)
        place(op);
    return result;
}

#define VELA_OPERATION(slot, op) Operation{slot, #op, EntryFor<slot>(&Interface::op)},
#define VELA_CLASS(name, OPERATIONS)                                                                         \
    [] {                                                                                                     \
        using Interface = I##name;                                                                           \
        return MakeClass(#name, CLSID_##name, IID_I##name, {OPERATIONS(VELA_OPERATION)});                    \
    }(),
const AgentClass kClasses[] = {VELA_AGENT_CLASSES(VELA_CLASS)};
#undef VELA_CLASS
#undef VELA_OPERATION

} // namespace

std::string Arg::ToString() const
{
    switch (kind) {
    case Kind::NullText:
        return "null";
    case Kind::Text:
        return "\"" + Narrow(text) + "\"";
    case Kind::Integer:
        return std::to_string(integer);
    case Kind::OutPointer:
        return "&out";
    case Kind::NullOutPointer:
        return "null-out";
    }
    return "?";
}

std::string Call::ToString() const
{
    std::string line = className + "#" + std::to_string(instance) + "." + operation + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) line += ", ";
        line += args[i].ToString();
    }
    return line + ")";
}

void Reset()
{
    Locked([](State& s) {
        s.calls.clear();
        s.outcomes.clear();
        s.activations = 0;
        s.peakStalled = 0;
    });
    ReleaseStalls();
}

void ReleaseStalls()
{
    Locked([](State& s) {
        ::SetEvent(s.release->get());
        s.release = State::NewReleaseEvent();
    });
}

int Stalled()
{
    return TheState().stalled;
}

int PeakStalled()
{
    return TheState().peakStalled;
}

unsigned long long ThreadTokenId()
{
    unique_handle token;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) return 0;
    TOKEN_STATISTICS statistics = {};
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenStatistics, &statistics, sizeof statistics, &size)) return 0;
    return (static_cast<unsigned long long>(statistics.TokenId.HighPart) << 32) | statistics.TokenId.LowPart;
}

void SetOutcome(const std::string& className, const std::string& operation, const Outcome& outcome)
{
    // Places 0 to 6 are IUnknown and IDispatch, not agent operations.
    const auto c = std::find_if(std::begin(kClasses), std::end(kClasses),
                                [&](const AgentClass& c) { return c.name == className; });
    if (c == std::end(kClasses) ||
        std::find(c->names.begin() + 7, c->names.end(), operation) == c->names.end())
        throw std::invalid_argument("no agent operation " + className + "." + operation);
    Locked([&](State& s) { s.outcomes[{className, operation}] = outcome; });
}

Outcome GetOutcome(const std::string& className, const std::string& operation)
{
    return Locked([&](State& s) { return FindOutcome(s, className, operation); });
}

std::vector<Call> Calls()
{
    return Locked([](State& s) { return s.calls; });
}

std::string Journal()
{
    std::string journal;
    for (const Call& call : Calls())
        journal += call.ToString() + "\n";
    return journal;
}

int LiveObjects()
{
    return TheState().liveObjects;
}

int Activations()
{
    return Locked([](State& s) { return s.activations; });
}

HRESULT CreateAgent(REFCLSID clsid, REFIID iid, void** result)
{
    if (!result) return E_POINTER;
    *result = nullptr;
    return ComBoundary([&]() -> HRESULT {
        for (const AgentClass& c : kClasses) {
            if (clsid != *c.clsid) continue;
            Agent* agent = new Agent(c);
            const HRESULT hr = Agent::QueryInterface(agent, iid, result);
            Agent::Release(agent);
            return hr;
        }
        return CLASS_E_CLASSNOTAVAILABLE;
    });
}

} // namespace vela::testagent
