// Feeds arbitrary text to the registry script engine in both modes against the in-memory
// store. Besides the sanitizers' findings, a result the engine does not document, a key handle
// left open or one closed twice aborts.
#include "FakeRegistryStore.h"
#include "frame/regscript/RegScript.h"

#include <cstdlib>

using namespace vela::regscript;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view script(reinterpret_cast<const char*>(data), size);
    const ReplacementMap map{{"Module", "C:\\Vela 100%\\O''Brien\\VeladcomClient.DLL"}, {"Empty", ""}};
    test::FakeRegistryStore store;
    std::int32_t results[4];
    for (int run = 0; run < 4; ++run) {
        // Unregister, register twice, unregister.
        const ScriptMode mode = run % 3 ? ScriptMode::Register : ScriptMode::Unregister;
        const std::int32_t hr = results[run] = RunRegistryScript(script, map, mode, store);
        if ((hr != kS_OK && hr != kDISP_E_EXCEPTION && hr != kE_FAIL) || store.OpenHandles() != 0)
            std::abort();
    }
    // Whatever the text, the outcome does not depend on what the store already holds.
    if (results[1] != results[2]) std::abort();
    return 0;
}
