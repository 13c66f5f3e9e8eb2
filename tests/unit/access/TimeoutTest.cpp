// A command time-out where the command table cannot show it: objects that go while their
// exchange runs late, crowds of callers against hung and healthy hosts, the caller's
// account, late answers in the log, and an agent that answers with objects.
#include "AccessFixture.h"

#include <functional>
#include <thread>

namespace vela::test {
namespace {

const Text kHost(L"host1"), kDomain(L"zone1"), kName(L"www");

testagent::Outcome Stalled(testagent::Outcome outcome = {})
{
    outcome.stallMs = testagent::kUntilReleased;
    return outcome;
}

// Late exchanges outlive their object: its log, settings and result slot are gone when the
// agent answers, and what the agent then hands back is released where it was made.
TEST_F(AccessTest, ObjectReleasedWhileItsExchangesRunLate)
{
    const ScopedCommandTimeout timeout(1);
    testagent::Outcome answer;
    answer.text = L"backup";
    answer.userListObject = true;
    testagent::SetOutcome("ServerAdmin", "BackupMailDomain", Stalled(answer));
    testagent::SetOutcome("ServerAdmin", "GetMEUsersList", Stalled(answer));
    testagent::SetOutcome("DnsAdmin", "CreateAEntry", Stalled(answer));
    {
        Bare<CVelaServerAccess> object;
        object.put_resellerns1(Text(L"ns1"));
        BSTR list = PoisonText();
        VARIANT users;
        ::VariantInit(&users);
        short result = kPoisonShort;
        EXPECT_EQ(S_OK, object.BackupMailDomain(kHost, kName, kDomain, &list));
        EXPECT_EQ(S_OK, object.GetMEUsersList(kHost, kDomain, &users));
        EXPECT_EQ(S_OK, object.CreateAEntry(kHost, kDomain, kName, kName, &result));
        EXPECT_EQ(PoisonText(), list);
        EXPECT_EQ(VT_EMPTY, V_VT(&users));
        EXPECT_EQ(0, result);
        EXPECT_EQ(3, testagent::Stalled());
    }
    testagent::ReleaseStalls();
    ASSERT_TRUE(LateExchangesEnd());
    EXPECT_EQ(0, testagent::LiveObjects()) << "the agent, or the object it answered with, was kept";
}

// On time, an object the agent answers with, alone or inside an array, reaches the caller as
// the caller's own proxy: the agent's interfaces stay in the apartment of the thread that
// called it, and go when the caller lets go of them. An object the caller held stays its own.
// Late, the worker lets go of what the agent answered.
TEST_F(AccessTest, ObjectsAnsweredInTimeArriveThroughTheCallersApartment)
{
    const ScopedCommandTimeout timeout(1);
    testagent::Outcome answer;
    VARIANT users;
    ::VariantInit(&users);
    for (const bool inArray : {false, true}) {
        SCOPED_TRACE(inArray ? "in an array" : "alone");
        answer.userListObject = !inArray;
        answer.userListArray = inArray;
        testagent::SetOutcome("ServerAdmin", "GetMEUsersList", answer);
        EXPECT_EQ(S_OK, NewObject()->GetMEUsersList(kHost, kDomain, &users));
        VARIANT* object = &users;
        if (inArray) {
            ASSERT_EQ(VT_ARRAY | VT_VARIANT, V_VT(&users));
            ASSERT_EQ(2u, V_ARRAY(&users)->rgsabound[0].cElements);
            auto* items = static_cast<VARIANT*>(V_ARRAY(&users)->pvData);
            EXPECT_EQ(VT_BSTR, V_VT(&items[0]));
            EXPECT_EQ("u1", Ascii(V_BSTR(&items[0])));
            object = &items[1];
        }
        ASSERT_EQ(VT_DISPATCH, V_VT(object));
        ASSERT_NE(nullptr, V_DISPATCH(object));
        com_ptr<IClientSecurity> proxy;
        EXPECT_EQ(S_OK, V_DISPATCH(object)->QueryInterface(IID_IClientSecurity, proxy.put_void()))
            << "the worker's own interface crossed apartments unmarshalled";
        proxy.reset();
        com_ptr<IDispatch> dispatch;
        EXPECT_EQ(S_OK, V_DISPATCH(object)->QueryInterface(IID_IDispatch, dispatch.put_void()));
        EXPECT_EQ(V_DISPATCH(object), dispatch.get()) << "not the proxy of the dispatch interface";
        dispatch.reset();
        ::VariantClear(&users);
        EXPECT_TRUE(Eventually([] { return testagent::LiveObjects() == 0; }));
    }

    // An object the caller's variable already held, and an agent that writes nothing: the
    // variable keeps the caller's own object, untouched.
    testagent::SetOutcome("ServerAdmin", "GetMEUsersList", {});
    IDispatch* own = nullptr;
    ASSERT_EQ(S_OK, testagent::CreateAgent(CLSID_DnsAdmin, IID_IDispatch, reinterpret_cast<void**>(&own)));
    V_VT(&users) = VT_DISPATCH;
    V_DISPATCH(&users) = own;
    EXPECT_EQ(S_OK, NewObject()->GetMEUsersList(kHost, kDomain, &users));
    EXPECT_EQ(VT_DISPATCH, V_VT(&users));
    EXPECT_EQ(own, V_DISPATCH(&users));
    ::VariantClear(&users);
    EXPECT_EQ(0, testagent::LiveObjects());

    answer.stallMs = testagent::kUntilReleased;
    testagent::SetOutcome("ServerAdmin", "GetMEUsersList", answer);
    EXPECT_EQ(S_OK, NewObject()->GetMEUsersList(kHost, kDomain, &users));
    EXPECT_EQ(VT_EMPTY, V_VT(&users));
    testagent::ReleaseStalls();
    ASSERT_TRUE(LateExchangesEnd());
    EXPECT_EQ(0, testagent::LiveObjects()) << "an object in the late array was kept";
}

// `callers` threads, each with an object of its own, call CreateAEntry at once; the results.
std::vector<short> Crowd(std::function<IVelaServerAccess*()> newObject, int callers)
{
    std::vector<IVelaServerAccess*> objects;
    for (int i = 0; i < callers; ++i)
        objects.push_back(newObject());
    const unique_handle go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<short> results(static_cast<size_t>(callers), kPoisonShort);
    std::vector<std::thread> threads;
    for (int i = 0; i < callers; ++i)
        threads.emplace_back([&, i] {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            ::WaitForSingleObject(go.get(), INFINITE);
            objects[static_cast<size_t>(i)]->CreateAEntry(kHost, kDomain, kName, kName,
                                                          &results[static_cast<size_t>(i)]);
            ::CoUninitialize();
        });
    ::SetEvent(go.get());
    for (std::thread& thread : threads)
        thread.join();
    return results;
}

// A hundred callers at once. Against a hung host, no more than kMaxLateWork exchanges are
// ever inside the agent: the callers beyond them wait for a place within their own time-out
// and fail when none comes free, without activating anything. Against a healthy host that
// answers slowly, well within the time-out, nobody is refused because of the bound: the
// callers beyond it only wait their turn.
TEST_F(AccessTest, CrowdsStayWithinTheBound)
{
    const struct {
        DWORD timeout, stallMs;
        short result;
        size_t activations;
    } crowds[] = {{1, 4000, 0, kMaxLateWork}, {5, 300, 1, 100}};
    for (const auto& crowd : crowds) {
        SCOPED_TRACE(crowd.stallMs);
        testagent::Reset();
        Activator::Get() = {};
        const ScopedCommandTimeout timeout(crowd.timeout);
        testagent::Outcome answer;
        answer.result = 1;
        answer.stallMs = crowd.stallMs;
        testagent::SetOutcome("DnsAdmin", "CreateAEntry", answer);
        EXPECT_EQ(std::vector<short>(100, crowd.result), Crowd([this] { return NewObject(); }, 100));
        ASSERT_TRUE(LateExchangesEnd());
        EXPECT_EQ(crowd.activations, Activator::Get().seen.size());
        // The hung host holds every exchange long enough for all places to fill.
        if (crowd.result == 0) EXPECT_EQ(kMaxLateWork, testagent::PeakStalled());
        EXPECT_LE(testagent::PeakStalled(), kMaxLateWork) << "exchanges inside the agent at once";
    }
}

// With a time-out the exchange runs on a worker thread, as its caller: under the token the
// caller impersonates (the activation and every agent call), or under none, as the process.
// A worker that served an impersonating caller keeps nothing of it for the next.
TEST_F(AccessTest, ExchangeRunsAsItsCaller)
{
    for (const DWORD timeout : {0u, 1u}) {
        SCOPED_TRACE(timeout);
        const ScopedCommandTimeout timeoutSetting(timeout);
        IVelaServerAccess* object = NewObject();
        for (const bool impersonating : {true, false, true}) {
            testagent::Reset();
            Activator::Get() = {};
            ASSERT_TRUE(!impersonating || ::ImpersonateSelf(SecurityImpersonation));
            const unsigned long long caller = testagent::ThreadTokenId();
            ASSERT_EQ(impersonating, caller != 0);
            short result = kPoisonShort;
            EXPECT_EQ(S_OK, object->AlterCompleteDNSEntries(kHost, kDomain, kName, kName, kName, &result));
            if (impersonating) ::RevertToSelf();
            ASSERT_EQ(1u, Activator::Get().seen.size());
            EXPECT_EQ(caller, Activator::Get().seen[0].token) << "the activation ran as someone else";
            const std::vector<testagent::Call> calls = testagent::Calls();
            ASSERT_FALSE(calls.empty());
            for (const testagent::Call& call : calls)
                EXPECT_EQ(caller, call.token) << call.ToString();
            // The worker, idle again, holds no token: whichever caller it serves next, it
            // starts as the process.
            if (timeout && impersonating) {
                const unique_handle worker(::OpenThread(THREAD_QUERY_INFORMATION, FALSE, calls[0].thread));
                ASSERT_TRUE(worker);
                unique_handle token;
                EXPECT_FALSE(::OpenThreadToken(worker.get(), TOKEN_QUERY, TRUE, token.put()));
                EXPECT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), ::GetLastError())
                    << "the worker kept the token";
            }
        }
    }
}

// An answer that comes after the time-out leaves a second record: the record that the same
// answer in time would have left, marked as late. One member of each kind, each answering
// well, with an error text, and with a failure.
TEST_F(AccessTest, LateAnswerIsRecordedAsItWouldHaveBeenInTime)
{
    const Text kType(L"IMail Server");
    const struct {
        const char* agentClass;
        const char* operation;
        std::function<void(IVelaServerAccess*)> call;
    } members[] = {
        {"DnsAdmin", "CreateAEntry",
         [&](IVelaServerAccess* o) {
             short r;
             o->CreateAEntry(kHost, kDomain, kName, kName, &r);
         }},
        {"ServerAdmin", "SetupSecDNS",
         [&](IVelaServerAccess* o) {
             short r;
             o->SetupSecDNS(kHost, kDomain, kName, kName, 1, &r);
         }},
        {"DnsAdmin", "DeletePrimaryDomain",
         [&](IVelaServerAccess* o) {
             short r;
             o->DeletePrimaryDomain(kHost, kDomain, &r);
         }},
        {"DnsAdmin", "GetDNSFile",
         [&](IVelaServerAccess* o) {
             BSTR file = nullptr;
             o->GetDNSFile(kHost, kDomain, &file);
             ::SysFreeString(file);
         }},
        {"ServerAdmin", "MailSetup",
         [&](IVelaServerAccess* o) {
             short r;
             o->MailSetup(kHost, kType, kDomain, kName, kName, kName, &r);
         }},
        {"BindDnsAdmin", "CBindDNSDomain",
         [&](IVelaServerAccess* o) {
             short r;
             o->CBindDNSDomain(kHost, kDomain, kName, &r);
         }},
    };
    testagent::Outcome answers[3];
    answers[0].result = 1;
    answers[1].errorText = L"zone missing";
    answers[2].hr = E_ACCESSDENIED;
    answers[2].errorText = L"denied";
    NewObject(); // creates the log
    for (const testagent::Outcome& answer : answers) {
        SCOPED_TRACE(answer.hr);
        std::vector<std::string> inTime;
        for (const auto& member : members) {
            testagent::SetOutcome(member.agentClass, member.operation, answer);
            const size_t before = LogLines().size();
            member.call(NewObject());
            inTime.push_back(RecordsSince(before).at(0));
        }

        const ScopedCommandTimeout timeout(1);
        testagent::Outcome late = answer;
        late.stallMs = testagent::kUntilReleased;
        for (const auto& member : members)
            testagent::SetOutcome(member.agentClass, member.operation, late);
        std::vector<IVelaServerAccess*> objects;
        for (size_t i = 0; i < std::size(members); ++i)
            objects.push_back(NewObject());
        const size_t before = LogLines().size();
        std::vector<std::thread> callers;
        for (size_t i = 0; i < std::size(members); ++i)
            callers.emplace_back([&, i] {
                ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                members[i].call(objects[i]);
                ::CoUninitialize();
            });
        for (std::thread& caller : callers)
            caller.join();
        EXPECT_EQ(std::size(members), RecordsSince(before).size());
        testagent::ReleaseStalls();
        ASSERT_TRUE(LateExchangesEnd());
        const std::vector<std::string> records = RecordsSince(before);
        for (size_t i = 0; i < std::size(members); ++i) {
            const std::string& record = inTime[i];
            const size_t comma = record.find(",Operation ");
            const std::string action = record.substr(0, comma);
            EXPECT_EQ(1,
                      std::count(records.begin(), records.end(),
                                 action + ",Operation Failed : Error is '" + ErrorText(RPC_E_TIMEOUT) + "',"))
                << action;
            EXPECT_EQ(1, std::count(records.begin(), records.end(),
                                    action + ",After the time-out : " + record.substr(comma + 1)))
                << record;
        }
    }
}

// Hung hosts cost at most kMaxLateWork threads: past that a command fails at once, without
// activating anything, until a late exchange ends. At once: even a command whose own
// time-out is long does not wait for a place that only a hung host could free.
TEST_F(AccessTest, LateExchangesAreBounded)
{
    const ScopedCommandTimeout timeout(1);
    testagent::SetOutcome("DnsAdmin", "CreateAEntry", Stalled());
    std::vector<IVelaServerAccess*> objects;
    for (long i = 0; i < kMaxLateWork; ++i)
        objects.push_back(NewObject());
    {
        const ScopedCommandTimeout longer(60);
        objects.push_back(NewObject());
    }

    std::vector<std::thread> callers;
    for (long i = 0; i < kMaxLateWork; ++i)
        callers.emplace_back([object = objects[i]] {
            ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            short result = kPoisonShort;
            object->CreateAEntry(kHost, kDomain, kName, kName, &result);
            ::CoUninitialize();
        });
    for (std::thread& caller : callers)
        caller.join();
    ASSERT_EQ(kMaxLateWork, RunningDetachedWork());
    ASSERT_EQ(static_cast<size_t>(kMaxLateWork), Activator::Get().seen.size());

    IVelaServerAccess* last = objects.back();
    short result = kPoisonShort;
    // Should the command wait for a place after all, the hosts recover after a while, and
    // the command then gets through: what it should not.
    const unique_handle returned(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread recovery([&] {
        if (::WaitForSingleObject(returned.get(), 5000) == WAIT_OBJECT_0) return;
        testagent::SetOutcome("DnsAdmin", "CreateAEntry", {});
        testagent::ReleaseStalls();
    });
    EXPECT_EQ(S_OK, last->CreateAEntry(kHost, kDomain, kName, kName, &result));
    ::SetEvent(returned.get());
    recovery.join();
    EXPECT_EQ(0, result);
    EXPECT_EQ(ErrorText(RPC_E_TIMEOUT), StrError(last));
    EXPECT_EQ(static_cast<size_t>(kMaxLateWork), Activator::Get().seen.size()) << "activated past the bound";
    EXPECT_EQ(kMaxLateWork, RunningDetachedWork()) << "a thread was started past the bound";

    testagent::ReleaseStalls();
    ASSERT_TRUE(LateExchangesEnd());
    testagent::SetOutcome("DnsAdmin", "CreateAEntry", {});
    EXPECT_EQ(S_OK, last->CreateAEntry(kHost, kDomain, kName, kName, &result));
    EXPECT_EQ("", StrError(last));
    EXPECT_EQ(static_cast<size_t>(kMaxLateWork) + 1, Activator::Get().seen.size());
}

} // namespace
} // namespace vela::test
