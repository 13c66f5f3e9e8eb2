// What forwarding costs on top of the agent call itself: the same CreateAEntry made
// straight on a freshly created in-process agent (the baseline: activation, call,
// error-text fetch, release) and through the server-access object (action text, the
// same remote exchange, result text, one log record). Prints figures; asserts nothing.
// Usage: forward_bench.exe [calls]
#include "AccessFixture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

HRESULT InProcess(REFCLSID clsid, DWORD, COSERVERINFO*, MULTI_QI* request)
{
    request->hr =
        vela::testagent::CreateAgent(clsid, *request->pIID, reinterpret_cast<void**>(&request->pItf));
    return request->hr;
}

template <typename F> double Seconds(F&& run)
{
    const auto start = Clock::now();
    run();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int calls = argc > 1 ? std::atoi(argv[1]) : 20000;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    vela::SetActivationFunction(&InProcess);
    vela::test::TempDir install;
    ::CreateDirectoryA((install / "web").c_str(), nullptr);
    ::CreateDirectoryA((install / "web\\admin").c_str(), nullptr);
    vela::test::ScopedInstallPath installPath(install.path());

    vela::test::Text host(L"dns1"), zone(L"example.org"), name(L"www"), address(L"192.0.2.1");
    const double direct = Seconds([&] {
        for (int i = 0; i < calls; ++i) {
            vela::com_ptr<IDnsAdmin> dns;
            vela::testagent::CreateAgent(CLSID_DnsAdmin, IID_IDnsAdmin, dns.put_void());
            short result = 0;
            dns->CreateAEntry(zone, name, address, &result);
            vela::unique_bstr error;
            dns->get_strError(error.put());
        }
    });
    vela::testagent::Reset();
    double forwarded = 0;
    {
        vela::test::Bare<vela::CVelaServerAccess> object;
        forwarded = Seconds([&] {
            for (int i = 0; i < calls; ++i) {
                short result = 0;
                object.CreateAEntry(host, zone, name, address, &result);
            }
        });
    }
    vela::testagent::Reset();
    std::printf("calls: %d\n", calls);
    std::printf("agent call alone:        %8.2f us/call\n", direct * 1e6 / calls);
    std::printf("forwarded and logged:    %8.2f us/call\n", forwarded * 1e6 / calls);
    std::printf("ratio forwarded/alone:   %8.2f\n", forwarded / direct);
    ::CoUninitialize();
    return 0;
}
