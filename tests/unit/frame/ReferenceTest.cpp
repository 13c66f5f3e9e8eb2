// The reference for script authors (docs/reference.md) against the type library that the DLL
// embeds: every member of each interface documented once, under its interface, with the
// library's parameter names, and no member that the library lacks.
//
// What this test reads of the reference, and so how the reference names a member:
// - a level-2 heading that names an interface in backticks (## `IVelaServerAccess` ...) starts
//   that interface's members; any other level-2 heading ends them;
// - a member is a table row whose first cell is the member in backticks and nothing else: a
//   method with its parameters as the library names them, the out-value left out
//   (`CreateAEntry(RemoteServer, ADomain, AHost, AIP)`, `Restart(RemoteServer)`), a property
//   with its name alone (`strError`, `imail_databasetype`);
// - fenced code blocks are skipped.
#include "common/Unique.h"
#include "platform/WinIncludes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using vela::com_ptr;
using vela::unique_bstr;

// Interface name -> member name -> the member as the reference writes it: "Name(a, b)" for a
// method, "Name" for a property.
using Members = std::map<std::string, std::map<std::string, std::string>>;

std::string Narrow(BSTR text)
{
    return std::string(text, text + ::SysStringLen(text)); // the library's names are ASCII
}

// The members of the library's interfaces, each dual interface read through its interface half.
Members LibraryMembers(ITypeLib* library)
{
    Members members;
    for (UINT index = 0; index < library->GetTypeInfoCount(); ++index) {
        TYPEKIND kind = TKIND_MAX;
        com_ptr<ITypeInfo> info;
        unique_bstr name;
        EXPECT_EQ(library->GetTypeInfoType(index, &kind), S_OK);
        if (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) continue;
        EXPECT_EQ(library->GetTypeInfo(index, info.put()), S_OK);
        EXPECT_EQ(library->GetDocumentation(index, name.put(), nullptr, nullptr, nullptr), S_OK);
        HREFTYPE half = 0;
        if (kind == TKIND_DISPATCH && SUCCEEDED(info->GetRefTypeOfImplType(-1, &half))) {
            com_ptr<ITypeInfo> dispatch = info;
            EXPECT_EQ(dispatch->GetRefTypeInfo(half, info.put()), S_OK);
        }
        TYPEATTR* attributes = nullptr;
        EXPECT_EQ(info->GetTypeAttr(&attributes), S_OK);
        auto& own = members[Narrow(name.get())];
        for (UINT f = 0; f < attributes->cFuncs; ++f) {
            FUNCDESC* function = nullptr;
            EXPECT_EQ(info->GetFuncDesc(f, &function), S_OK);
            BSTR names[64] = {};
            UINT count = 0;
            EXPECT_EQ(info->GetNames(function->memid, names, 64, &count), S_OK);
            std::vector<unique_bstr> held(names, names + count);
            std::string written = Narrow(names[0]);
            if (function->invkind == INVOKE_FUNC) {
                std::string separator;
                written += "(";
                for (SHORT p = 0; p < function->cParams; ++p) {
                    if (function->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL) continue;
                    written += separator + (p + 1u < count ? Narrow(names[p + 1]) : "?");
                    separator = ", ";
                }
                written += ")";
            }
            own[Narrow(names[0])] = written;
            info->ReleaseFuncDesc(function);
        }
        info->ReleaseTypeAttr(attributes);
    }
    return members;
}

struct Reference {
    std::set<std::string> interfaces; // named by a level-2 heading
    Members members;
    std::vector<std::string> twice; // "<interface>.<member>", in the order met
};

Reference ParseReference(std::istream& in)
{
    static const std::regex heading(R"(^## (.*)$)"), interfaceName(R"(`(I[A-Z]\w*)`)"),
        fence(R"(^\s*(`{3,}|~{3,}).*$)"), row(R"(^\s*\|\s*`([A-Za-z_]\w*)(\(([^()`]*)\))?`\s*\|.*$)"),
        comma(R"(\s*,\s*)");
    Reference reference;
    std::string line, current, open;
    std::smatch match;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (std::regex_match(line, match, fence)) {
            const std::string marker = match[1];
            if (open.empty()) {
                open = marker;
            } else if (marker[0] == open[0] && marker.size() >= open.size() &&
                       line.find_first_not_of(" \t" + marker) == std::string::npos) {
                open.clear();
            }
            continue;
        }
        if (!open.empty()) continue;
        if (std::regex_match(line, match, heading)) {
            const std::string text = match[1];
            current = std::regex_search(text, match, interfaceName) ? match[1].str() : "";
            if (!current.empty()) reference.interfaces.insert(current);
            continue;
        }
        if (current.empty() || !std::regex_match(line, match, row)) continue;
        std::string name = match[1], written = name;
        if (match[2].matched) {
            const std::string parameters = std::regex_replace(match[3].str(), comma, ", ");
            written += "(" + std::regex_replace(parameters, std::regex(R"(^\s+|\s+$)"), "") + ")";
        }
        if (!reference.members[current].emplace(name, written).second)
            reference.twice.push_back(current + "." + name);
    }
    return reference;
}

// What the reference and the library disagree on, one line each.
std::vector<std::string> Compare(const Members& library, const Reference& reference)
{
    std::vector<std::string> problems;
    for (const auto& member : reference.twice)
        problems.push_back(member + ": documented twice");
    std::set<std::string> interfaces = reference.interfaces;
    for (const auto& entry : library)
        interfaces.insert(entry.first);
    for (const auto& name : interfaces) {
        const auto inLibrary = library.find(name);
        const auto inReference = reference.members.find(name);
        static const std::map<std::string, std::string> none;
        const auto& documented = inReference == reference.members.end() ? none : inReference->second;
        const auto& declared = inLibrary == library.end() ? none : inLibrary->second;
        if (inLibrary == library.end()) problems.push_back(name + ": an interface the library does not have");
        if (!reference.interfaces.count(name)) problems.push_back(name + ": no section in the reference");
        std::set<std::string> names;
        for (const auto& entry : documented)
            names.insert(entry.first);
        for (const auto& entry : declared)
            names.insert(entry.first);
        for (const auto& member : names) {
            const auto doc = documented.find(member), decl = declared.find(member);
            if (doc == documented.end()) {
                problems.push_back(name + "." + decl->second + ": in the library, not in the reference");
            } else if (decl == declared.end()) {
                problems.push_back(name + "." + doc->second + ": in the reference, not in the library");
            } else if (doc->second != decl->second) {
                problems.push_back(name + "." + member + ": the reference writes " + doc->second +
                                   ", the library has " + decl->second);
            }
        }
    }
    return problems;
}

Members EmbeddedLibraryMembers()
{
    std::wstring path = VELA_CLIENT_DLL;
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    com_ptr<ITypeLib> library;
    EXPECT_EQ(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()), S_OK);
    return library ? LibraryMembers(library.get()) : Members{};
}

TEST(ReferenceTest, DocumentsEveryMemberOfTheTypeLibraryOnceAndNoOther)
{
    const Members library = EmbeddedLibraryMembers();
    ASSERT_FALSE(library.empty());
    for (const auto& entry : library)
        EXPECT_FALSE(entry.second.empty()) << entry.first;
    std::ifstream file(VELA_REFERENCE);
    ASSERT_TRUE(file) << VELA_REFERENCE;
    std::string report;
    for (const auto& problem : Compare(library, ParseReference(file)))
        report += "\n  " + problem;
    EXPECT_EQ(report, "") << "in " << VELA_REFERENCE;
}

// The check on references made from the library, whole and then broken in each way it refuses.
TEST(ReferenceTest, FindsMissingExtraMisnamedAndRepeatedMembers)
{
    const Members library = EmbeddedLibraryMembers();
    ASSERT_TRUE(library.count("IVelaServerAccess"));
    std::string whole;
    for (const auto& entry : library) {
        whole += "## The `" + entry.first + "` interface\n\n| Member | Out-value |\n|---|---|\n";
        for (const auto& member : entry.second)
            whole += "| `" + member.second + "` | 1 |\n";
        whole += "\n";
    }
    const auto check = [&](const std::string& text) {
        std::istringstream in(text);
        return Compare(library, ParseReference(in));
    };
    EXPECT_EQ(check(whole), std::vector<std::string>{});
    const auto edit = [&](std::string from, const std::string& to) {
        std::string text = whole;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };

    const std::string aEntry = "| `CreateAEntry(RemoteServer, ADomain, AHost, AIP)` | 1 |\n";
    EXPECT_EQ(check(edit(aEntry, "")),
              std::vector<std::string>{"IVelaServerAccess.CreateAEntry(RemoteServer, ADomain, AHost, AIP): "
                                       "in the library, not in the reference"});
    EXPECT_EQ(check(edit(aEntry, "```vbscript\n" + aEntry + "```\n")), check(edit(aEntry, "")));
    EXPECT_EQ(check(edit(aEntry, "") + "## Examples\n\n" + aEntry), check(edit(aEntry, "")));
    EXPECT_EQ(check(edit(aEntry, aEntry + "| `CreateZone(RemoteServer,Zone)` | 1 |\n")),
              std::vector<std::string>{
                  "IVelaServerAccess.CreateZone(RemoteServer, Zone): in the reference, not in the library"});
    EXPECT_EQ(check(edit("`Restart(RemoteServer)`", "`Restart(Host)`")),
              std::vector<std::string>{"IVelaServerAccess.Restart: the reference writes Restart(Host), the "
                                       "library has Restart(RemoteServer)"});
    EXPECT_EQ(check(edit("`strError`", "`strError()`")),
              std::vector<std::string>{
                  "IVelaServerAccess.strError: the reference writes strError(), the library has strError"});
    EXPECT_EQ(check(edit("| `strError` |", "| `strError` (get) |")),
              std::vector<std::string>{"IVelaServerAccess.strError: in the library, not in the reference"});
    EXPECT_EQ(check(edit(aEntry, aEntry + aEntry)),
              std::vector<std::string>{"IVelaServerAccess.CreateAEntry: documented twice"});
    EXPECT_EQ(check(whole + "## `IVelaServerAccess2`\n\n| `Restart(RemoteServer)` | 1 |\n"),
              (std::vector<std::string>{
                  "IVelaServerAccess2: an interface the library does not have",
                  "IVelaServerAccess2.Restart(RemoteServer): in the reference, not in the library"}));
    EXPECT_EQ(check(edit("## The `IVelaServerAccess` interface", "## The server-access interface")).size(),
              library.at("IVelaServerAccess").size() + 1);
}

} // namespace
