// The packaged DLLs' resources, read from the files as data: check.sh unpacks the win32 and
// win64 packages below VELA_PACKAGES and names the source tree with the shipped scripts.
#include "common/Unique.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const struct {
    const char* folder;
    SYSKIND syskind;
} kPackages[] = {{"win32", SYS_WIN32}, {"win64", SYS_WIN64}};

const struct {
    WORD id;
    const char* file;
} kScripts[] = {{102, "SecDNSAdmin.rgs"}, {103, "VelaServerAccess.rgs"}};

TEST(PackagedDll, CarriesTheShippedScriptsAndATypeLibraryForItsPlatform)
{
    const char* packages = std::getenv("VELA_PACKAGES");
    const char* source = std::getenv("VELA_SOURCE");
    ASSERT_TRUE(packages && source);
    for (const auto& package : kPackages) {
        const std::string dll = std::string(packages) + "\\" + package.folder + "\\VeladcomClient.dll";
        vela::unique_hmodule module(::LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module) << dll;
        for (const auto& script : kScripts) {
            // In US English, as registration asks for them.
            HRSRC found = ::FindResourceExA(module.get(), "REGISTRY", MAKEINTRESOURCEA(script.id),
                                            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
            ASSERT_NE(found, nullptr) << package.folder << " " << script.id;
            std::ostringstream shipped;
            shipped << std::ifstream(std::string(source) + "\\src\\frame\\" + script.file, std::ios::binary)
                           .rdbuf();
            EXPECT_EQ(
                std::string(static_cast<const char*>(::LockResource(::LoadResource(module.get(), found))),
                            ::SizeofResource(module.get(), found)),
                shipped.str())
                << package.folder << " " << script.file;
        }
        vela::com_ptr<ITypeLib> library;
        ITypeLib** out = library.put();
        *out = reinterpret_cast<ITypeLib*>(0xdeadbeef);
        ASSERT_EQ(::LoadTypeLibEx(std::wstring(dll.begin(), dll.end()).c_str(), REGKIND_NONE, out), S_OK)
            << dll;
        TLIBATTR* attributes = reinterpret_cast<TLIBATTR*>(0xdeadbeef);
        ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
        EXPECT_EQ(attributes->syskind, package.syskind) << package.folder;
        library->ReleaseTLibAttr(attributes);
    }
}

} // namespace
