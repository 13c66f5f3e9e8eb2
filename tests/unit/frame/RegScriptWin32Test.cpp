// The script engine on the system registry: scripts run inside a private key below
// HKEY_CURRENT_USER (the roots they name are mapped there), results read back with raw
// registry calls.
#include "ClassScripts.h"
#include "common/Unique.h"
#include "frame/Win32RegistryStore.h"
#include "frame/regscript/RegScript.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace vela::regscript;

class RegScriptWin32Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_name = "Software\\VelaRegScriptTest-" + std::to_string(::GetCurrentProcessId());
        ::RegDeleteTreeA(HKEY_CURRENT_USER, m_name.c_str());
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER, m_name.c_str(), 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, m_root.put(), nullptr));
        m_store.MapRoot(RegistryRoot::ClassesRoot, m_root.get());
        m_store.MapRoot(RegistryRoot::CurrentUser, m_root.get());
    }

    void TearDown() override
    {
        m_root.reset();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, m_name.c_str());
    }

    std::int32_t Run(std::string_view script, ScriptMode mode, const ReplacementMap& map = {})
    {
        return RunRegistryScript(script, map, mode, m_store);
    }

    bool KeyExists(const std::string& path)
    {
        vela::unique_hkey key;
        return ::RegOpenKeyExA(m_root.get(), path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }

    // The value's type and data; type 0xdeadbeef when it cannot be read.
    std::pair<DWORD, std::string> Value(const std::string& path, const char* name)
    {
        vela::unique_hkey key;
        DWORD type = 0xdeadbeef;
        char data[512];
        memset(data, 0xcc, sizeof(data));
        DWORD size = sizeof(data);
        if (::RegOpenKeyExA(m_root.get(), path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
            ::RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
                ERROR_SUCCESS) {
            return {0xdeadbeef, std::string()};
        }
        return {type, std::string(data, size)};
    }

    DWORD SubkeyCount(const std::string& path)
    {
        vela::unique_hkey key;
        DWORD count = 0xdeadbeef;
        if (::RegOpenKeyExA(m_root.get(), path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
            return count;
        ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr);
        return count;
    }

    std::string m_name;
    vela::unique_hkey m_root;
    vela::Win32RegistryStore m_store;
};

std::string Sz(const std::string& text)
{
    return text + std::string(1, '\0');
}

TEST_F(RegScriptWin32Test, WritesEveryValueTypeAndRemovesItAgain)
{
    const char* script = "HKCU { 'My Key' = s 'text' { val Num = d '&H20' val Big = D '4000000000' "
                         "val Bin = b 'A0b1' Sub } }";
    ASSERT_EQ(kS_OK, Run(script, ScriptMode::Register));
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), Sz("text")), Value("My Key", nullptr));
    EXPECT_EQ(std::make_pair(DWORD(REG_DWORD), std::string("\x20\0\0\0", 4)), Value("My Key", "Num"));
    EXPECT_EQ(std::make_pair(DWORD(REG_DWORD), std::string("\x00\x28\x6B\xEE", 4)), Value("My Key", "Big"));
    EXPECT_EQ(std::make_pair(DWORD(REG_BINARY), std::string("\xA0\xB1")), Value("My Key", "Bin"));
    EXPECT_TRUE(KeyExists("My Key\\Sub"));

    // A foreign subkey keeps the key; the values the script names go all the same, through
    // a handle that was opened for reading.
    HKEY foreign = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyA(m_root.get(), "My Key\\Foreign", &foreign));
    ::RegCloseKey(foreign);
    EXPECT_EQ(kS_OK, Run(script, ScriptMode::Unregister));
    EXPECT_EQ(0xdeadbeefu, Value("My Key", "Num").first);
    EXPECT_EQ(0xdeadbeefu, Value("My Key", "Bin").first);
    EXPECT_EQ(DWORD(REG_SZ), Value("My Key", nullptr).first);
    EXPECT_FALSE(KeyExists("My Key\\Sub"));
    EXPECT_TRUE(KeyExists("My Key\\Foreign"));

    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyA(m_root.get(), "My Key\\Foreign"));
    EXPECT_EQ(kS_OK, Run(script, ScriptMode::Unregister));
    EXPECT_EQ(0u, SubkeyCount(""));
}

TEST_F(RegScriptWin32Test, FailuresWriteNothing)
{
    EXPECT_EQ(kDISP_E_EXCEPTION, Run("HKCU { A = s 'a' { B } 'C\\D' }", ScriptMode::Register));
    EXPECT_EQ(kE_FAIL, Run("HKCU { A = s 'a' { B = b '123' } }", ScriptMode::Register));
    EXPECT_EQ(0u, SubkeyCount(""));
}

TEST_F(RegScriptWin32Test, ClassScriptsRegisterAndUnregister)
{
    const ReplacementMap map = {{"Module", "C:\\O''Brien\\VeladcomClient.DLL"}};
    ASSERT_EQ(kS_OK, Run(test::kSecDnsAdminScript, ScriptMode::Register, map));
    ASSERT_EQ(kS_OK, Run(test::kVelaServerAccessScript, ScriptMode::Register, map));
    ASSERT_EQ(kS_OK, Run(test::kVelaServerAccessScript, ScriptMode::Register, map));

    const std::string classKey = "CLSID\\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}";
    EXPECT_EQ(5u, SubkeyCount(""));
    EXPECT_EQ(2u, SubkeyCount("CLSID"));
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), Sz("VelaServerAccess Class")), Value(classKey, nullptr));
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), Sz("C:\\O'Brien\\VeladcomClient.DLL")),
              Value(classKey + "\\InprocServer32", nullptr));
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), Sz("Apartment")),
              Value(classKey + "\\InprocServer32", "ThreadingModel"));
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), Sz("{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}")),
              Value(classKey + "\\TypeLib", nullptr));
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), Sz("VeladcomClient.VelaServerAccess.1")),
              Value(classKey + "\\ProgID", nullptr));
    EXPECT_TRUE(KeyExists(classKey + "\\Programmable"));
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), Sz("{7A3F1C20-5B0E-4D2A-9C11-3E5F00000003}")),
              Value("VeladcomClient.SecDNSAdmin.1\\CLSID", nullptr));
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), Sz("VeladcomClient.SecDNSAdmin.1")),
              Value("VeladcomClient.SecDNSAdmin\\CurVer", nullptr));

    EXPECT_EQ(kS_OK, Run(test::kSecDnsAdminScript, ScriptMode::Unregister, map));
    EXPECT_EQ(kS_OK, Run(test::kVelaServerAccessScript, ScriptMode::Unregister, map));
    EXPECT_EQ(kS_OK, Run(test::kVelaServerAccessScript, ScriptMode::Unregister, map));
    EXPECT_EQ(1u, SubkeyCount(""));
    EXPECT_EQ(0u, SubkeyCount("CLSID"));
}

} // namespace
