#include "ClassScripts.h"
#include "FakeRegistryStore.h"
#include "frame/regscript/RegScript.h"

#include <gtest/gtest.h>

#include <string>

namespace vela::regscript::test {
namespace {

constexpr RegistryRoot HKCR = RegistryRoot::ClassesRoot;
constexpr RegistryRoot HKCU = RegistryRoot::CurrentUser;
const std::string kModule = "C:\\Program Files\\Vela\\VeladcomClient.DLL";

class RegScriptTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(0u, store.OpenHandleCount());
        EXPECT_EQ(0, store.badCloses);
    }

    std::int32_t Register(std::string_view script) { return Run(script, ScriptMode::Register); }
    std::int32_t Unregister(std::string_view script) { return Run(script, ScriptMode::Unregister); }
    std::int32_t Run(std::string_view script, ScriptMode mode)
    {
        return RunRegistryScript(script, map, mode, store);
    }

    FakeRegistryStore store;
    ReplacementMap map{{"Module", kModule}};
};

// --- The class scripts ----------------------------------------------------------------------

// Everything one class script writes, as FakeRegistryStore::Dump lists it.
std::string ClassTree(const std::string& name, const std::string& clsid, const std::string& module)
{
    const std::string progId = "VeladcomClient." + name;
    const std::string classKey = "CLSID\\{" + clsid + "}";
    return classKey + "\n" + classKey + "||1|" + name + " Class\n" + classKey + "\\InprocServer32\n" +
           classKey + "\\InprocServer32||1|" + module + "\n" + classKey +
           "\\InprocServer32|ThreadingModel|1|Apartment\n" + classKey + "\\ProgID\n" + classKey +
           "\\ProgID||1|" + progId + ".1\n" + classKey + "\\Programmable\n" + classKey + "\\TypeLib\n" +
           classKey + "\\TypeLib||1|{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}\n" + classKey +
           "\\VersionIndependentProgID\n" + classKey + "\\VersionIndependentProgID||1|" + progId + "\n";
}

std::string ProgIdTrees(const std::string& name, const std::string& clsid)
{
    const std::string progId = "VeladcomClient." + name;
    return progId + "\n" + progId + "||1|" + name + " Class\n" + progId + "\\CLSID\n" + progId +
           "\\CLSID||1|{" + clsid + "}\n" + progId + "\\CurVer\n" + progId + "\\CurVer||1|" + progId +
           ".1\n" + progId + ".1\n" + progId + ".1||1|" + name + " Class\n" + progId + ".1\\CLSID\n" +
           progId + ".1\\CLSID||1|{" + clsid + "}\n";
}

const std::string kSecClsid = "7A3F1C20-5B0E-4D2A-9C11-3E5F00000003";
const std::string kAccessClsid = "7A3F1C20-5B0E-4D2A-9C11-3E5F00000005";

std::string ExpectedRegistration(const std::string& module)
{
    return "CLSID\n" + ClassTree("SecDNSAdmin", kSecClsid, module) +
           ClassTree("VelaServerAccess", kAccessClsid, module) + ProgIdTrees("SecDNSAdmin", kSecClsid) +
           ProgIdTrees("VelaServerAccess", kAccessClsid);
}

TEST_F(RegScriptTest, ClassScriptsRegisterAndUnregisterCompletely)
{
    EXPECT_EQ(kS_OK, Register(kSecDnsAdminScript));
    EXPECT_EQ(kS_OK, Register(kVelaServerAccessScript));
    EXPECT_EQ(ExpectedRegistration(kModule), store.Dump(HKCR));

    EXPECT_EQ(kS_OK, Unregister(kSecDnsAdminScript));
    EXPECT_EQ(kS_OK, Unregister(kVelaServerAccessScript));
    EXPECT_EQ("CLSID\n", store.Dump(HKCR));
    EXPECT_EQ("", store.Dump(HKCU));
}

TEST_F(RegScriptTest, RegisteringTwiceLeavesOneSetAndReplacesTheClassKey)
{
    ASSERT_EQ(kS_OK, Register(kSecDnsAdminScript));
    ASSERT_EQ(kS_OK, Register(kVelaServerAccessScript));
    store.Make(HKCR, "CLSID\\{" + kSecClsid + "}\\Stale");
    store.Make(HKCR, "VeladcomClient.SecDNSAdmin\\Foreign");

    EXPECT_EQ(kS_OK, Register(kSecDnsAdminScript));
    EXPECT_EQ(kS_OK, Register(kVelaServerAccessScript));
    EXPECT_EQ(nullptr, store.Find(HKCR, "CLSID\\{" + kSecClsid + "}\\Stale"));
    // Program-id keys are only opened: what others put there stays.
    EXPECT_NE(nullptr, store.Find(HKCR, "VeladcomClient.SecDNSAdmin\\Foreign"));
    store.Find(HKCR, "VeladcomClient.SecDNSAdmin")->subkeys.erase("foreign");
    EXPECT_EQ(ExpectedRegistration(kModule), store.Dump(HKCR));
}

TEST_F(RegScriptTest, UnregisteringTwiceChangesNothingTheSecondTime)
{
    store.Make(HKCR, "CLSID\\{Other}\\InprocServer32");
    ASSERT_EQ(kS_OK, Register(kVelaServerAccessScript));
    ASSERT_EQ(kS_OK, Unregister(kVelaServerAccessScript));
    const std::string after = store.Dump(HKCR);
    EXPECT_EQ("CLSID\nCLSID\\{Other}\nCLSID\\{Other}\\InprocServer32\n", after);
    EXPECT_EQ(kS_OK, Unregister(kVelaServerAccessScript));
    EXPECT_EQ(after, store.Dump(HKCR));
}

TEST_F(RegScriptTest, ProgIdKeyWithForeignSubkeySurvivesUnregistration)
{
    ASSERT_EQ(kS_OK, Register(kSecDnsAdminScript));
    store.Make(HKCR, "VeladcomClient.SecDNSAdmin.1\\Shell");
    // A foreign named value alone does not keep a key.
    store.Make(HKCR, "VeladcomClient.SecDNSAdmin").values.push_back({"Extra", kRegSz, {'x', 0}});

    EXPECT_EQ(kS_OK, Unregister(kSecDnsAdminScript));
    EXPECT_EQ("CLSID\nVeladcomClient.SecDNSAdmin.1\nVeladcomClient.SecDNSAdmin.1||1|SecDNSAdmin Class\n"
              "VeladcomClient.SecDNSAdmin.1\\Shell\n",
              store.Dump(HKCR));
}

TEST_F(RegScriptTest, QuoteInModulePathIsWrittenOnce)
{
    map = {{"Module", "C:\\O''Brien\\Vela.dll"}};
    ASSERT_EQ(kS_OK, Register(kSecDnsAdminScript));
    EXPECT_EQ("C:\\O'Brien\\Vela.dll", store.String(HKCR, "CLSID\\{" + kSecClsid + "}\\InprocServer32", ""));
}

// --- Replacements -------------------------------------------------------------------------------

TEST_F(RegScriptTest, ReplacementNamesMatchInAnyCaseAndPercentPercentIsPercent)
{
    map = {{"Module", "50%"}};
    EXPECT_EQ(kS_OK, Register("HKCU { A = s '%Module%' B = s '%MODULE%' C = s '%module%%%%%' }"));
    EXPECT_EQ("50%", store.String(HKCU, "A", ""));
    EXPECT_EQ("50%", store.String(HKCU, "B", ""));
    EXPECT_EQ("50%%%", store.String(HKCU, "C", "")); // a value is not expanded again

    std::string expanded;
    EXPECT_EQ(kS_OK, ExpandRegistryScript("%%%module%%%", map, store, &expanded));
    EXPECT_EQ("%50%%", expanded);
}

TEST_F(RegScriptTest, BadReplacementsFailBeforeAnythingIsWritten)
{
    const std::string name31(31, 'N');
    const std::string name32(32, 'N');
    map.push_back({name32, "x"});
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { A = s '%Unknown%' }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { A = s '%" + name31 + "%' }"));
    EXPECT_EQ(kE_FAIL, Register("HKCU { A = s '%" + name32 + "%' }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { A = s '%Module' }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { A }%"));
    EXPECT_EQ(kE_FAIL, Unregister("HKCU { A = s '%" + name32 + "%' }"));
    EXPECT_EQ("", store.Dump(HKCU));
}

TEST_F(RegScriptTest, DoubleByteCharactersAreKeptWhole)
{
    // 0x81 0x25 is one character in a double-byte code page, not "\x81" and "%".
    const std::string script = "HKCU { 'K\x81%' = s 'v\x81'' }";
    EXPECT_EQ(kDISP_E_EXCEPTION, Register(script));
    store.dbcs = true;
    EXPECT_EQ(kS_OK, Register(script));
    EXPECT_EQ("v\x81'", store.String(HKCU, "K\x81%", ""));
}

// --- Tokens -------------------------------------------------------------------------------------

TEST_F(RegScriptTest, QuotedTokensAndWhitespace)
{
    EXPECT_EQ(kS_OK, Register("\r\n\tHKCU\n{\r'Key With ''Quotes'''\t=\ts\n'it''s'\r\n}\r\n\t "));
    EXPECT_EQ("it's", store.String(HKCU, "Key With 'Quotes'", ""));
    EXPECT_EQ(kS_OK, Register(""));
    // The script ends at a zero byte.
    EXPECT_EQ(kS_OK, Register(std::string_view("HKCU { Z }\0junk", 15)));
    EXPECT_NE(nullptr, store.Find(HKCU, "Z"));
}

TEST_F(RegScriptTest, KeyNameGluedToEqualsFormsOneToken)
{
    EXPECT_EQ(kS_OK, Register("HKCU { Name= s 'v' }"));
    EXPECT_EQ("Name=\ns\nv\n", store.Dump(HKCU));
}

TEST_F(RegScriptTest, TokensEndingEarlyOrTooLongFail)
{
    const std::string longest(kMaxTokenBytes, 'x');
    EXPECT_EQ(kS_OK, Register("HKCU { A = s '" + longest + "' " + longest + " }"));
    EXPECT_EQ(longest, store.String(HKCU, "A", ""));
    EXPECT_NE(nullptr, store.Find(HKCU, longest));

    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { B = s '" + longest + "x' }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { " + longest + "x }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { B = s 'open }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { B = s 'open'' }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { B = s"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU {"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU"));
    EXPECT_EQ(nullptr, store.Find(HKCU, "B"));
}

// --- Roots and values ---------------------------------------------------------------------------

TEST_F(RegScriptTest, RootNamesLongShortAnyCase)
{
    const struct {
        const char* name;
        RegistryRoot root;
    } roots[] = {
        {"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
        {"hkcu", RegistryRoot::CurrentUser},
        {"HKLM", RegistryRoot::LocalMachine},
        {"HKEY_USERS", RegistryRoot::Users},
        {"HKU", RegistryRoot::Users},
        {"hkey_performance_data", RegistryRoot::PerformanceData},
        {"HKDD", RegistryRoot::DynData},
        {"HKEY_CURRENT_CONFIG", RegistryRoot::CurrentConfig},
        {"HKCC", RegistryRoot::CurrentConfig},
    };
    for (const auto& entry : roots) {
        EXPECT_EQ(kS_OK, Register(std::string(entry.name) + " { K" + entry.name + " }")) << entry.name;
        EXPECT_NE(nullptr, store.Find(entry.root, std::string("K") + entry.name)) << entry.name;
    }
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKEY_CLASSES { K }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU K"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU {K }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Unregister("HKXX { K }"));
}

TEST_F(RegScriptTest, ValueTypes)
{
    EXPECT_EQ(kS_OK, Register("HKCU { K { val Str = S 'text' val Num = d '4000000000' val Hex = D '&H10' "
                              "val Bad = d 'abc' val Bin = B '0aFfz1' val Empty = b '' } }"));
    EXPECT_EQ("K\n"
              "K|Bad|4|00000000\n"
              "K|Bin|3|0AFF01\n"
              "K|Empty|3|\n"
              "K|Hex|4|10000000\n"
              "K|Num|4|00286BEE\n"
              "K|Str|1|text\n",
              store.Dump(HKCU));
    EXPECT_EQ(kE_FAIL, Register("HKCU { K2 = b '123' }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { K3 = x 'v' }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { K { val V s 'v' } }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Unregister("HKCU { K { val V s 'v' } }"));
}

// --- Keys ---------------------------------------------------------------------------------------

TEST_F(RegScriptTest, CompoundAndUncreatableKeysFail)
{
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { 'A\\B' }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { ForceRemove A\\B }"));
    EXPECT_EQ(kDISP_E_EXCEPTION, Unregister("HKCU { A\\B }"));
    store.uncreatableKeys.insert("locked");
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { Locked }"));
    EXPECT_EQ("", store.Dump(HKCU));

    // A key that only opens for reading is used as it is; its values cannot be written.
    store.Make(HKCU, "ReadOnly").readOnly = true;
    EXPECT_EQ(kS_OK, Register("HKCU { ReadOnly = s 'v' }"));
    EXPECT_EQ("ReadOnly\n", store.Dump(HKCU));
}

TEST_F(RegScriptTest, ForceRemoveAndDelete)
{
    store.Make(HKCU, "F\\Old").values.push_back({"", kRegSz, {'o', 0}});
    store.Make(HKCU, "D\\Sub");
    store.Make(HKCU, "CLSID\\{Keep}");
    store.Make(HKCU, "TypeLib\\{Keep}");
    EXPECT_EQ(kS_OK, Register("HKCU { ForceRemove F = s 'new' { N } Delete D = s 'x' { Ignored } "
                              "Delete CLSID ForceRemove typelib DELETE Missing }"));
    EXPECT_EQ("CLSID\nCLSID\\{Keep}\nF\nF||1|new\nF\\N\nTypeLib\nTypeLib\\{Keep}\n", store.Dump(HKCU));
}

TEST_F(RegScriptTest, NoRemoveHoldsToTheEndOfItsList)
{
    const char* script = "HKCU { A { NoRemove B C { D } } E }";
    ASSERT_EQ(kS_OK, Register(script));
    EXPECT_EQ(kS_OK, Unregister(script));
    // B and C stay (C after B in the same list), D below C goes, E outside the list goes; A
    // keeps its subkeys and so stays.
    EXPECT_EQ("A\nA\\B\nA\\C\n", store.Dump(HKCU));
}

TEST_F(RegScriptTest, UnregisterDeletesNamedValuesAndIgnoresMissingKeys)
{
    store.Make(HKCU, "K").values = {
        {"", kRegSz, {'d', 0}}, {"Named", kRegSz, {'n', 0}}, {"Own", kRegSz, {0}}};
    store.Make(HKCU, "Keep\\Sub");
    store.Make(HKCU, "Keep").values.push_back({"Named", kRegSz, {'n', 0}});
    EXPECT_EQ(kS_OK, Unregister("HKCU { Keep { val Named = s 'x' } K { val Named = s 'x' } "
                                "Missing = s 'x' { val V = s 'x' Deeper { val W = d 1 } } }"));
    // K lost its named value but kept "Own", which the script does not name; without subkeys
    // it goes anyway.
    EXPECT_EQ("Keep\nKeep\\Sub\n", store.Dump(HKCU));
}

TEST_F(RegScriptTest, NestingIsBoundedByTheRegistrysDepth)
{
    const auto nested = [](int keys) {
        std::string script = "HKCU {";
        for (int i = 0; i < keys; ++i)
            script += " K {";
        for (int i = 0; i <= keys; ++i)
            script += " }";
        return script;
    };
    EXPECT_EQ(kDISP_E_EXCEPTION, Unregister(nested(512)));
    EXPECT_EQ(kS_OK, Register(nested(511)));
    EXPECT_EQ(kS_OK, Unregister(nested(511)));
    EXPECT_TRUE(store.Dump(HKCU).empty());
    EXPECT_EQ(kDISP_E_EXCEPTION, Register(nested(512)));
}

// --- Undo of a failed block ---------------------------------------------------------------------

TEST_F(RegScriptTest, FailedBlockIsUndoneAndEarlierBlocksStay)
{
    store.Make(HKCU, "Shared\\Foreign");
    EXPECT_EQ(kE_FAIL,
              Register("HKLM { Earlier = s 'e' } HKCU { A = s 'a' { B { val V = s 'v' } } Shared { Mine } "
                       "C = b '123' }"));
    EXPECT_EQ("Shared\nShared\\Foreign\n", store.Dump(HKCU));
    EXPECT_EQ("Earlier\nEarlier||1|e\n", store.Dump(RegistryRoot::LocalMachine));

    // A syntax error reports its own failure, not the undo's.
    EXPECT_EQ(kDISP_E_EXCEPTION, Register("HKCU { X { Y } Z = q 'v' }"));
    EXPECT_EQ("Shared\nShared\\Foreign\n", store.Dump(HKCU));
}

} // namespace
} // namespace vela::regscript::test
