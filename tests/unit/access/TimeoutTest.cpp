// A command time-out where the command table cannot show it: objects that go while their
// exchange runs late, many hung hosts at once, and an agent that answers with an object.
#include "AccessFixture.h"

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

// On time, an object the agent answers with reaches the caller as the caller's own proxy:
// the agent's interfaces stay in the apartment of the thread that called it.
TEST_F(AccessTest, ObjectAnsweredInTimeArrivesThroughTheCallersApartment)
{
    const ScopedCommandTimeout timeout(1);
    testagent::Outcome answer;
    answer.userListObject = true;
    testagent::SetOutcome("ServerAdmin", "GetMEUsersList", answer);
    VARIANT users;
    ::VariantInit(&users);
    EXPECT_EQ(S_OK, NewObject()->GetMEUsersList(kHost, kDomain, &users));
    ASSERT_EQ(VT_DISPATCH, V_VT(&users));
    ASSERT_NE(nullptr, V_DISPATCH(&users));
    com_ptr<IClientSecurity> proxy;
    EXPECT_EQ(S_OK, V_DISPATCH(&users)->QueryInterface(IID_IClientSecurity, proxy.put_void()));
    proxy.reset();
    ::VariantClear(&users);
    EXPECT_TRUE(Eventually([] { return testagent::LiveObjects() == 0; }));
}

// Hung hosts cost at most kMaxLateWork threads: past that a command fails at once, without
// activating anything, until a late exchange ends.
TEST_F(AccessTest, LateExchangesAreBounded)
{
    const ScopedCommandTimeout timeout(1);
    testagent::SetOutcome("DnsAdmin", "CreateAEntry", Stalled());
    std::vector<IVelaServerAccess*> objects;
    for (long i = 0; i <= kMaxLateWork; ++i)
        objects.push_back(NewObject());

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
    EXPECT_EQ(S_OK, last->CreateAEntry(kHost, kDomain, kName, kName, &result));
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
