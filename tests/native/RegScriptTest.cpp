// The registry script engine on the in-memory store, one case a row: set-up script (registered),
// script, mode, result, and the whole store after it. "@Name.rgs" stands for a shipped script.
#include "FakeRegistryStore.h"
#include "frame/regscript/RegScript.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace vela::regscript::test {
namespace {

constexpr ScriptMode R = ScriptMode::Register, U = ScriptMode::Unregister;
const ReplacementMap kMap = {{"Module", "C:\\O''Brien\\Vela.dll"}, {"Pct", "50%"}};
const std::string kBoth = "@SecDNSAdmin.rgs @VelaServerAccess.rgs";

struct Row {
    std::string setUp, script;
    ScriptMode mode;
    std::uint32_t hr;
    std::string dump;
};

std::string Lines(const std::string& prefix, std::initializer_list<std::string> suffixes)
{
    std::string out;
    for (const std::string& suffix : suffixes)
        out += prefix + suffix + "\n";
    return out;
}

// What one shipped class script writes, in the store's dump order.
std::string ClassKeys(const std::string& name, const std::string& clsid)
{
    const std::string progId = "VeladcomClient." + name;
    return Lines("HKCR\\CLSID\\" + clsid,
                 {"", "||1|" + name + " Class", "\\InprocServer32",
                  "\\InprocServer32||1|C:\\O'Brien\\Vela.dll", "\\InprocServer32|ThreadingModel|1|Apartment",
                  "\\ProgID", "\\ProgID||1|" + progId + ".1", "\\Programmable", "\\TypeLib",
                  "\\TypeLib||1|{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}", "\\VersionIndependentProgID",
                  "\\VersionIndependentProgID||1|" + progId});
}

std::string ProgIdKeys(const std::string& name, const std::string& clsid)
{
    return Lines("HKCR\\VeladcomClient." + name,
                 {"", "||1|" + name + " Class", "\\CLSID", "\\CLSID||1|" + clsid, "\\CurVer",
                  "\\CurVer||1|VeladcomClient." + name + ".1", ".1", ".1||1|" + name + " Class", ".1\\CLSID",
                  ".1\\CLSID||1|" + clsid});
}

const std::string kSecDns = "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000003}";
const std::string kAccess = "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}";
const std::string kRegistered = "HKCR\\CLSID\n" + ClassKeys("SecDNSAdmin", kSecDns) +
                                ClassKeys("VelaServerAccess", kAccess) + ProgIdKeys("SecDNSAdmin", kSecDns) +
                                ProgIdKeys("VelaServerAccess", kAccess);

std::string Nested(int keys)
{
    std::string script = "HKCU {";
    for (int i = 0; i < keys; ++i)
        script += " K {";
    for (int i = 0; i <= keys; ++i)
        script += " }";
    return script;
}

const std::string kLongest(kMaxTokenBytes, 'x');

const std::vector<Row> kRows = {
    // The shipped scripts: written; rewritten, the class keys replaced whole; removed but for others' keys.
    {"", kBoth, R, 0, kRegistered},
    {kBoth + " HKCR { CLSID { " + kSecDns + " { Stale } } VeladcomClient.VelaServerAccess.1 { Zz } }", kBoth,
     R, 0, kRegistered + "HKCR\\VeladcomClient.VelaServerAccess.1\\Zz\n"},
    {kBoth + " HKCR { CLSID { {Other} } VeladcomClient.SecDNSAdmin.1 { Shell } "
             "VeladcomClient.SecDNSAdmin { val Extra = s 'x' } }",
     kBoth, U, 0,
     "HKCR\\CLSID\nHKCR\\CLSID\\{Other}\nHKCR\\VeladcomClient.SecDNSAdmin.1\n"
     "HKCR\\VeladcomClient.SecDNSAdmin.1||1|SecDNSAdmin Class\nHKCR\\VeladcomClient.SecDNSAdmin.1\\Shell\n"},
    {"HKCR { CLSID { {Other} } }", kBoth, U, 0, "HKCR\\CLSID\nHKCR\\CLSID\\{Other}\n"},
    // Replacements: any letter case, "%%", values not expanded again; bad names write nothing.
    {"", "HKCU { A = s '%Module%' B = s '%MODULE%%%' C = s '%pct%' }", R, 0,
     "HKCU\\A\nHKCU\\A||1|C:\\O'Brien\\Vela.dll\nHKCU\\B\nHKCU\\B||1|C:\\O'Brien\\Vela.dll%\nHKCU\\C\n"
     "HKCU\\C||1|50%\n"},
    {"", "HKCU { A = s '%" + std::string(31, 'N') + "%' }", R, 0x80020009, ""},
    {"", "HKCU { A = s '%" + std::string(32, 'N') + "%' }", U, 0x80004005, ""},
    {"", "HKCU { A = s '%Module' }", R, 0x80020009, ""},
    // A lead byte keeps its trail byte, even when that is "%" or "'".
    {"", "HKCU { 'K\x81%' = s 'v\x81'' }", R, 0, "HKCU\\K\x81%\nHKCU\\K\x81%||1|v\x81'\n"},
    // Tokens.
    {"", "\r\n\tHKCU\n{\r'Key With ''Quotes'''\t=\ts\n'it''s'\r\n}\r\n\t ", R, 0,
     "HKCU\\Key With 'Quotes'\nHKCU\\Key With 'Quotes'||1|it's\n"},
    {"", std::string("HKCU { Z }\0junk", 15), R, 0, "HKCU\\Z\n"},
    {"", "HKCU { Name= s 'v' K { = s 'v' } }", R, 0,
     "HKCU\\K\nHKCU\\K\\=\nHKCU\\K\\s\nHKCU\\K\\v\nHKCU\\Name=\nHKCU\\s\nHKCU\\v\n"},
    {"", "HKCU { A = s '" + kLongest + "' }", R, 0, "HKCU\\A\nHKCU\\A||1|" + kLongest + "\n"},
    {"", "HKCU { " + kLongest + "x }", R, 0x80020009, ""},
    {"", "HKCU { B = s 'open'' }", R, 0x80020009, ""},
    {"", "HKCU {", R, 0x80020009, ""},
    // Roots, long and short names in any letter case.
    {"",
     "HKEY_CLASSES_ROOT { K } hkcu { K } HKEY_USERS { K } HKU { L } hkey_performance_data { K } HKDD { K } "
     "HKEY_CURRENT_CONFIG { K } HKCC { L }",
     R, 0, "HKCR\\K\nHKCU\\K\nHKU\\K\nHKU\\L\nHKPD\\K\nHKDD\\K\nHKCC\\K\nHKCC\\L\n"},
    {"", "HKLM { Software = s 'v' }", R, 0, ""}, // opened for reading only: used as it is
    {"", "HKEY_LOCAL_MACHINE { New }", R, 0x80020009, ""},
    {"", "HKXX { K }", U, 0x80020009, ""},
    // Values and keys.
    {"",
     "HKCU { K { val Str = S 'text' val Num = d '4000000000' val Hex = D '&H10' val Oct = d ' &o17 ' "
     "val Bad = d 'abc' val Bin = B '0aFfz1' val Bytes = b '0123456789abcDEF' val Empty = b '' } }",
     R, 0,
     "HKCU\\K\nHKCU\\K|Bad|4|00000000\nHKCU\\K|Bin|3|0AFF01\nHKCU\\K|Bytes|3|0123456789ABCDEF\n"
     "HKCU\\K|Empty|3|\nHKCU\\K|Hex|4|10000000\nHKCU\\K|Num|4|00286BEE\nHKCU\\K|Oct|4|0F000000\n"
     "HKCU\\K|Str|1|text\n"},
    {"", "HKCU { K = b '123' }", R, 0x80004005, ""},
    {"", "HKCU { K = x 'v' }", R, 0x80020009, ""},
    {"", "HKCU { K { val V s 'v' } }", U, 0x80020009, ""},
    {"", "HKCU { 'A\\B' }", R, 0x80020009, ""},
    {"", "HKCU { ForceRemove A\\B }", R, 0x80020009, ""},
    {"HKCU { A { B } }", "HKCU { A\\B }", U, 0x80020009, "HKCU\\A\nHKCU\\A\\B\n"},
    // A key name may not begin with one either.
    {"", "HKCU { \\A }", R, 0x80020009, ""},
    {"HKCU { A }", "HKCU { Delete \\A }", R, 0x80020009, "HKCU\\A\n"},
    {"HKCU { A }", "HKCU { \\A }", U, 0x80020009, "HKCU\\A\n"},
    {"HKCU { F { Old = s 'o' } D { Sub } CLSID { {Keep} } TypeLib { {Keep} } }",
     "HKCU { ForceRemove F = s 'new' { N } Delete D = s 'x' { Ignored } Delete CLSID ForceRemove typelib "
     "DELETE Missing }",
     R, 0,
     "HKCU\\CLSID\nHKCU\\CLSID\\{Keep}\nHKCU\\F\nHKCU\\F||1|new\nHKCU\\F\\N\n"
     "HKCU\\TypeLib\nHKCU\\TypeLib\\{Keep}\n"},
    // "NoRemove" holds to the end of its list; a key keeps others' subkeys; keywords name no key.
    {"HKCU { A { B C { D } } E NoRemove ForceRemove F }", "HKCU { A { NoRemove B C { D } } E ForceRemove F }",
     U, 0, "HKCU\\A\nHKCU\\A\\B\nHKCU\\A\\C\nHKCU\\ForceRemove\n"},
    {"HKCU { K = s 'd' { val Named = s 'n' val Own = s '' } Keep { Sub val Named = s 'n' } }",
     "HKCU { Keep { val Named = s 'x' } K { val Named = s 'x' } "
     "Missing = s 'x' { val V = s 'x' Deeper { val W = d 1 } } }",
     U, 0, "HKCU\\Keep\nHKCU\\Keep\\Sub\n"},
    {Nested(511), Nested(511), U, 0, ""},
    {"", Nested(512), U, 0x80020009, ""},
    // A failing block is undone; earlier blocks and what others added stay. A syntax error
    // reports its own failure, not the undo's.
    {"HKCU { Shared { Foreign } }",
     "HKCR { Earlier = s 'e' } HKCU { A = s 'a' { B { val V = s 'v' } } Shared { Mine } C = b '123' }", R,
     0x80004005, "HKCR\\Earlier\nHKCR\\Earlier||1|e\nHKCU\\Shared\nHKCU\\Shared\\Foreign\n"},
    {"", "HKCU { X { Y } Z = q 'v' }", R, 0x80020009, ""},
};

std::int32_t Apply(const std::string& script, ScriptMode mode, FakeRegistryStore& store)
{
    return RunRegistryScript(WithShippedScripts(script, VELA_RGS_DIR), kMap, mode, store);
}

TEST(RegScript, Rows)
{
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        const Row& row = kRows[i];
        SCOPED_TRACE(testing::Message() << "row " << i << ": " << row.script.substr(0, 60));
        FakeRegistryStore store;
        ASSERT_EQ(0, Apply(row.setUp, R, store));
        EXPECT_EQ(row.hr, static_cast<std::uint32_t>(Apply(row.script, row.mode, store)));
        EXPECT_EQ(row.dump, store.Dump());
        EXPECT_EQ(0u, store.OpenHandles());
    }
}

} // namespace
} // namespace vela::regscript::test
