// What a forwarded command costs against its floor: the same work done bare, measured in
// the same run and interleaved with it. The floor activates the registered DnsAdmin
// class through CoCreateInstanceEx with the same host and class context, calls
// CreateAEntry and get_strError, releases the object, reads the local time and appends one
// formatted record to a file opened once, at its end as the log does. A second floor also
// takes the append lock around its write, as the action log must between processes: the
// component against it shows what the component's own work costs. Both are also counted
// in wineserver round trips, the unit most Wine costs come in. A second component object,
// created with a command time-out set, shows what running each exchange on a thread of
// its own adds. Prints figures; asserts nothing.
//
// Usage: forward_bench.exe [calls per round] [rounds]. Needs VeladcomClient.dll and
// VelaTestAgent.dll registered and InstallPath set: bench/run.sh does that.
#include "common/Unique.h"
#include "log/ActionLog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using vela::com_ptr;
using vela::unique_bstr;

constexpr DWORD kClassContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

struct Texts {
    unique_bstr host{::SysAllocString(L"dns1.example.net")};
    unique_bstr zone{::SysAllocString(L"example.org")};
    unique_bstr name{::SysAllocString(L"www")};
    unique_bstr address{::SysAllocString(L"192.0.2.10")};
};

// The remote exchange of CreateAEntry, without the component.
void AgentCall(const Texts& t)
{
    COSERVERINFO server = {};
    server.pwszName = t.host.get();
    MULTI_QI request = {&IID_IDnsAdmin, nullptr, S_OK};
    if (FAILED(::CoCreateInstanceEx(CLSID_DnsAdmin, nullptr, kClassContext, &server, 1, &request))) return;
    const auto dns = com_ptr<IDnsAdmin>::attach(static_cast<IDnsAdmin*>(request.pItf));
    short result = 0;
    dns->CreateAEntry(t.zone.get(), t.name.get(), t.address.get(), &result);
    unique_bstr error;
    dns->get_strError(error.put());
}

std::string Record()
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return vela::FormatLogRecord(now,
                                 "Command for Remote Server 'dns1.example.net' : Create A Record for Domain "
                                 "'example.org'",
                                 "Operation Successful");
}

// The record written as the log writes it: at the end of the file as it is at the
// moment of the write.
void PlainWrite(HANDLE file)
{
    const std::string line = Record();
    OVERLAPPED atEnd = {};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, &atEnd);
}

void LockedWrite(HANDLE file)
{
    OVERLAPPED guard = {};
    guard.OffsetHigh = 0x7FFFFFFF;
    ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &guard);
    PlainWrite(file);
    ::UnlockFileEx(file, 0, 1, 0, &guard);
}

// The stand-in agent records every call; emptied before each timed run so that no run
// pays for another's growth.
void ResetAgent(IDispatch* control)
{
    LPOLESTR name = const_cast<LPOLESTR>(L"Reset");
    DISPID id = 0;
    DISPPARAMS none = {};
    if (SUCCEEDED(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)))
        control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

template <typename F> double MicrosecondsEach(int times, F&& step)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < times; ++i)
        step();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() /
           times;
}

// An object created while "CommandTimeoutSeconds" is set; the setting goes again at once.
com_ptr<IVelaServerAccess> CreateWithTimeout()
{
    const char general[] = "SOFTWARE\\Corvane\\Nt Vela Console\\General";
    const DWORD seconds = 60;
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, general, "CommandTimeoutSeconds", REG_DWORD, &seconds,
                      sizeof seconds);
    com_ptr<IVelaServerAccess> component;
    ::CoCreateInstance(CLSID_VelaServerAccess, nullptr, CLSCTX_INPROC_SERVER, IID_IVelaServerAccess,
                       component.put_void());
    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, general, "CommandTimeoutSeconds");
    return component;
}

template <typename F> double MicrosecondsPerCall(IDispatch* control, int calls, F&& call)
{
    ResetAgent(control);
    return MicrosecondsEach(calls, call);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        com_ptr<IVelaServerAccess> component;
        const com_ptr<IVelaServerAccess> withTimeout = CreateWithTimeout();
        CLSID controlClass = {};
        com_ptr<IDispatch> control;
        if (!withTimeout ||
            FAILED(::CoCreateInstance(CLSID_VelaServerAccess, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IVelaServerAccess, component.put_void())) ||
            FAILED(::CLSIDFromProgID(L"VelaTestAgent.Control", &controlClass)) ||
            FAILED(::CoCreateInstance(controlClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                      control.put_void()))) {
            std::fprintf(stderr, "forward_bench: register VeladcomClient.dll and VelaTestAgent.dll first\n");
            return 1;
        }
        char folder[MAX_PATH];
        ::GetTempPathA(MAX_PATH, folder);
        const std::string floorPath = std::string(folder) + "forward_bench_floor.csv";
        const vela::unique_handle file(::CreateFileA(
            floorPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        const Texts t;

        // Each round times the four one after another, in a rotating order, and yields its
        // own ratios: the machine's drift between rounds does not enter them.
        const std::function<void()> runs[] = {
            [&] {
                short result = 0;
                component->CreateAEntry(t.host.get(), t.zone.get(), t.name.get(), t.address.get(), &result);
            },
            [&] {
                AgentCall(t);
                PlainWrite(file.get());
            },
            [&] {
                AgentCall(t);
                LockedWrite(file.get());
            },
            [&] {
                short result = 0;
                withTimeout->CreateAEntry(t.host.get(), t.zone.get(), t.name.get(), t.address.get(), &result);
            },
        };
        constexpr int kRuns = sizeof runs / sizeof runs[0];
        std::vector<double> times[kRuns], overFloor, overLockedFloor, lockOverFloor, timeoutOverLockedFloor,
            timeoutOverForwarded;
        for (int round = 0; round < rounds; ++round) {
            double us[kRuns];
            for (int k = 0; k < kRuns; ++k) {
                const int which = (round + k) % kRuns;
                us[which] = MicrosecondsPerCall(control.get(), calls, runs[which]);
                times[which].push_back(us[which]);
            }
            overFloor.push_back(us[0] / us[1]);
            overLockedFloor.push_back(us[0] / us[2]);
            lockOverFloor.push_back(us[2] / us[1]);
            timeoutOverLockedFloor.push_back(us[3] / us[2]);
            timeoutOverForwarded.push_back(us[3] / us[0]);
        }
        // The unit most Wine costs come in: one request to the wineserver and its answer,
        // which is all that resetting an event is. Taking and releasing the lock are two.
        const vela::unique_handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        const double roundTrip = MicrosecondsEach(20000, [&] { ::ResetEvent(event.get()); });
        const double lockPair = MicrosecondsEach(20000, [&] {
            OVERLAPPED guard = {};
            guard.OffsetHigh = 0x7FFFFFFF;
            ::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &guard);
            ::UnlockFileEx(file.get(), 0, 1, 0, &guard);
        });
        ::DeleteFileA(floorPath.c_str());

        std::printf("%d rounds of %d calls, medians:\n", rounds, calls);
        std::printf("  forwarded CreateAEntry          %8.1f us/call\n", Median(times[0]));
        std::printf("  floor                           %8.1f us/call\n", Median(times[1]));
        std::printf("  floor with the append lock      %8.1f us/call\n", Median(times[2]));
        std::printf("  forwarded with a time-out       %8.1f us/call\n", Median(times[3]));
        std::printf("forwarded/floor                   %8.2f\n", Median(overFloor));
        std::printf("forwarded/floor with the lock     %8.2f\n", Median(overLockedFloor));
        std::printf("(floor with the lock/floor        %8.2f: what the append lock alone costs)\n",
                    Median(lockOverFloor));
        std::printf("with a time-out/floor with lock   %8.2f\n", Median(timeoutOverLockedFloor));
        std::printf("(with a time-out/forwarded        %8.2f: what the worker thread adds)\n",
                    Median(timeoutOverForwarded));
        std::printf("one wineserver round trip         %8.1f us: the floor is %.1f of them, the lock pair "
                    "(%.1f us) %.1f\n",
                    roundTrip, Median(times[1]) / roundTrip, lockPair, lockPair / roundTrip);
    }
    ::CoUninitialize();
    return 0;
}
