// Feeds arbitrary text to the registry script engine in every mode against the in-memory
// store. Besides the sanitizers' findings, a key handle left open or closed twice aborts.
#include "FakeRegistryStore.h"
#include "frame/regscript/RegScript.h"

#include <cstdlib>
#include <string_view>

using namespace vela::regscript;

namespace {

void Check(bool condition)
{
    if (!condition) std::abort();
}

void CheckHandles(const test::FakeRegistryStore& store)
{
    Check(store.OpenHandleCount() == 0);
    Check(store.badCloses == 0);
}

bool IsKnownResult(std::int32_t hr)
{
    return hr == kS_OK || hr == kDISP_E_EXCEPTION || hr == kE_FAIL;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view script(reinterpret_cast<const char*>(data), size);
    const ReplacementMap map{{"Module", "C:\\Vela 100%\\O''Brien\\VeladcomClient.DLL"}, {"Empty", ""}};

    {
        test::FakeRegistryStore store;
        store.uncreatableKeys.insert("locked");
        store.Make(RegistryRoot::ClassesRoot, "CLSID\\{Other}").readOnly = true;
        Check(IsKnownResult(RunRegistryScript(script, map, ScriptMode::Register, store)));
        CheckHandles(store);
        Check(IsKnownResult(RunRegistryScript(script, map, ScriptMode::Unregister, store)));
        CheckHandles(store);
    }
    {
        test::FakeRegistryStore store;
        store.dbcs = true;
        Check(IsKnownResult(RunRegistryScript(script, map, ScriptMode::Unregister, store)));
        CheckHandles(store);
        const std::int32_t first = RunRegistryScript(script, map, ScriptMode::Register, store);
        Check(IsKnownResult(first));
        CheckHandles(store);
        // Whatever the text, the outcome does not depend on what the store already holds.
        Check(RunRegistryScript(script, map, ScriptMode::Register, store) == first);
        CheckHandles(store);
    }
    return 0;
}
