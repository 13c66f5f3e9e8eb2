// The component calls the remote agent by function-table place, so a moved operation would
// silently call another one. The stand-in agent's operation list must agree with the
// agent's compiled type information: each operation at its slot, with its kind.
#include "AgentOperations.h"
#include "common/Unique.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace vela;

namespace {

struct Operation {
    int slot;
    std::string name;
};
struct Interface {
    const char* name;
    const IID* iid;
    std::vector<Operation> operations;
};

#define VELA_OPERATION(slot, name) {slot, #name},
#define VELA_INTERFACE(name, OPERATIONS) {#name, &IID_I##name, {OPERATIONS(VELA_OPERATION)}},
const Interface kInterfaces[] = {VELA_AGENT_CLASSES(VELA_INTERFACE)};

// "put_X" is the property put of X, "get_X" its get, anything else a method.
std::pair<std::string, INVOKEKIND> Member(const std::string& operation)
{
    const std::string prefix = operation.substr(0, 4);
    if (prefix == "put_") return {operation.substr(4), INVOKE_PROPERTYPUT};
    if (prefix == "get_") return {operation.substr(4), INVOKE_PROPERTYGET};
    return {operation, INVOKE_FUNC};
}

TEST(AgentContract, EveryOperationSitsAtItsSlot)
{
    com_ptr<ITypeLib> library;
    ASSERT_EQ(S_OK, ::LoadTypeLibEx(L"" VELA_AGENT_TLB, REGKIND_NONE, library.put()));
    for (const Interface& itf : kInterfaces) {
        // The interface half of the dual interface holds the function-table offsets.
        com_ptr<ITypeInfo> dispatch, info;
        HREFTYPE ref = 0xdeadbeef;
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(*itf.iid, dispatch.put())) << itf.name;
        ASSERT_EQ(S_OK, dispatch->GetRefTypeOfImplType(-1, &ref)) << itf.name;
        ASSERT_EQ(S_OK, dispatch->GetRefTypeInfo(ref, info.put())) << itf.name;
        ASSERT_EQ(S_OK, info->GetTypeAttr(&attr)) << itf.name;
        const TYPEKIND kind = attr->typekind;
        const WORD functions = attr->cFuncs;
        info->ReleaseTypeAttr(attr);
        ASSERT_EQ(TKIND_INTERFACE, kind) << itf.name;
        EXPECT_EQ(itf.operations.size(), functions) << itf.name << ": operations missing from the list";

        std::map<std::pair<std::string, INVOKEKIND>, SHORT> offsets;
        for (UINT i = 0; i < functions; ++i) {
            FUNCDESC* desc = nullptr;
            unique_bstr name;
            ASSERT_EQ(S_OK, info->GetFuncDesc(i, &desc));
            ASSERT_EQ(S_OK, info->GetDocumentation(desc->memid, name.put(), nullptr, nullptr, nullptr));
            offsets[{std::string(name.get(), name.get() + ::SysStringLen(name.get())), desc->invkind}] =
                desc->oVft;
            info->ReleaseFuncDesc(desc);
        }
        for (const Operation& op : itf.operations) {
            const auto found = offsets.find(Member(op.name));
            ASSERT_NE(offsets.end(), found) << itf.name << "." << op.name << " is not in the type library";
            EXPECT_EQ(static_cast<SHORT>((7 + op.slot - 1) * sizeof(void*)), found->second)
                << itf.name << "." << op.name << " is not at slot " << op.slot;
        }
    }
}

} // namespace
