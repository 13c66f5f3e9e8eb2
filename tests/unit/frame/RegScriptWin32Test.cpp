// The script engine's store on the system registry, checked against the native tests' in-memory
// store: each step runs on both (on the system in a private key below HKEY_CURRENT_USER that
// stands for HKEY_CLASSES_ROOT), and raw reads must find what the in-memory store holds.
#include "FakeRegistryStore.h"
#include "common/Unique.h"
#include "frame/Win32RegistryStore.h"
#include "frame/regscript/RegScript.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace vela::regscript;
using test::Lower;

// Everything below `key` in the in-memory store's dump format.
void Dump(HKEY key, const std::string& path, std::string& out)
{
    std::map<std::string, std::string> values, subkeys; // by lower-case name
    char name[256], data[8192];
    DWORD length = sizeof(name), size = sizeof(data), type = 0;
    for (DWORD i = 0;
         !::RegEnumValueA(key, i, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(data), &size); ++i) {
        values[Lower(name)] = test::ValueLine(path, name, type, std::string(data, size));
        length = sizeof(name), size = sizeof(data);
    }
    for (DWORD i = 0; !::RegEnumKeyA(key, i, name, sizeof(name)); ++i)
        subkeys[Lower(name)] = name;
    for (const auto& value : values)
        out += value.second;
    for (const auto& subkey : subkeys) {
        vela::unique_hkey child;
        EXPECT_EQ(::RegOpenKeyExA(key, subkey.second.c_str(), 0, KEY_READ, child.put()), ERROR_SUCCESS);
        out += path + "\\" + subkey.second + "\n";
        Dump(child.get(), path + "\\" + subkey.second, out);
    }
}

TEST(RegScriptWin32, AgreesWithTheInMemoryStore)
{
    const std::string name = "Software\\VelaRegScriptTest-" + std::to_string(::GetCurrentProcessId());
    vela::unique_hkey root;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                root.put(), nullptr),
              ERROR_SUCCESS);
    vela::Win32RegistryStore system;
    system.MapRoot(RegistryRoot::ClassesRoot, root.get());
    test::FakeRegistryStore memory;

    const std::string both = "@SecDNSAdmin.rgs @VelaServerAccess.rgs";
    const std::string values = "HKCR { 'My Key' = s 'text' { val Num = d '&H20' val Big = D '4000000000' "
                               "val Bin = b 'A0b1' Sub } }";
    constexpr ScriptMode R = ScriptMode::Register, U = ScriptMode::Unregister;
    const std::pair<std::string, ScriptMode> steps[] = {
        {"HKCR { VeladcomClient.SecDNSAdmin { Foreign } CLSID { {Other} } 'My Key' { Foreign } }", R},
        {both, R},
        {both, R},
        {values, R},
        {values, U}, // named values go through a handle opened for reading; foreign subkeys stay
        {both, U},
        {both, U},
    };
    const ReplacementMap map = {{"Module", "C:\\O''Brien\\VeladcomClient.DLL"}};
    for (const auto& [text, mode] : steps) {
        SCOPED_TRACE(text);
        const std::string script = test::WithShippedScripts(text, VELA_RGS_DIR);
        EXPECT_EQ(RunRegistryScript(script, map, mode, system), kS_OK);
        EXPECT_EQ(RunRegistryScript(script, map, mode, memory), kS_OK);
        std::string dump;
        Dump(root.get(), "HKCR", dump);
        EXPECT_EQ(dump, memory.Dump());
    }
    root.reset();
    EXPECT_EQ(::RegDeleteTreeA(HKEY_CURRENT_USER, name.c_str()), ERROR_SUCCESS);
}

} // namespace
