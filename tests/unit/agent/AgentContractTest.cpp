// The component calls the remote agent by function-table place, so a moved operation would
// silently call another one. The stand-in agent's operation list must agree with the
// agent's compiled type information: each operation at its slot, with its kind.
#include "AgentOperations.h"
#include "common/Unique.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace vela;

namespace {

struct Interface {
    const char* name;
    const IID* iid;
    std::vector<std::pair<int, std::string>> operations; // slot, name
};

#define VELA_OPERATION(slot, name) {slot, #name},
#define VELA_INTERFACE(name, OPERATIONS) {#name, &IID_I##name, {OPERATIONS(VELA_OPERATION)}},
const Interface kInterfaces[] = {VELA_AGENT_CLASSES(VELA_INTERFACE)};

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

        std::map<std::string, SHORT> offsets; // by operation name: put_X and get_X access property X
        for (UINT i = 0; i < functions; ++i) {
            FUNCDESC* desc = nullptr;
            unique_bstr name;
            ASSERT_EQ(S_OK, info->GetFuncDesc(i, &desc));
            ASSERT_EQ(S_OK, info->GetDocumentation(desc->memid, name.put(), nullptr, nullptr, nullptr));
            std::string operation = desc->invkind == INVOKE_PROPERTYPUT   ? "put_"
                                    : desc->invkind == INVOKE_PROPERTYGET ? "get_"
                                                                          : "";
            offsets[operation.append(name.get(), name.get() + ::SysStringLen(name.get()))] = desc->oVft;
            info->ReleaseFuncDesc(desc);
        }
        for (const auto& [slot, operation] : itf.operations) {
            const auto found = offsets.find(operation);
            ASSERT_NE(offsets.end(), found) << itf.name << "." << operation << " is not in the type library";
            EXPECT_EQ(static_cast<SHORT>((7 + slot - 1) * sizeof(void*)), found->second)
                << itf.name << "." << operation << " is not at slot " << slot;
        }
    }
}

} // namespace
