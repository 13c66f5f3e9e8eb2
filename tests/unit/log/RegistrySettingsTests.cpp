// The registry reader against a private key of HKEY_LOCAL_MACHINE, checked through
// raw Reg* calls.
#include "log/RegistrySettings.h"

#include <gtest/gtest.h>

#include <string>

using namespace vela;

namespace {

class RegistrySettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = "SOFTWARE\\VelaLogTests\\" + std::to_string(::GetCurrentProcessId());
        m_key = m_root + "\\Settings";
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, &key, nullptr));
        ::RegCloseKey(key);
    }
    void TearDown() override { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_root.c_str()); }

    void Set(const char* name, DWORD type, const std::string& bytes)
    {
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, m_key.c_str(), name, type,
                                                   bytes.data(), static_cast<DWORD>(bytes.size())));
    }
    void SetDword(const char* name, DWORD value)
    {
        Set(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value));
    }
    // Type and bytes of a value, read raw; type REG_NONE with "<missing>" when absent.
    std::pair<DWORD, std::string> Query(const std::string& keyPath, const char* name)
    {
        DWORD type = 0xdeadbeef;
        char data[256];
        DWORD size = sizeof data;
        if (::RegGetValueA(HKEY_LOCAL_MACHINE, keyPath.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                           &size) != ERROR_SUCCESS)
            return {REG_NONE, "<missing>"};
        return {type, std::string(data, size)};
    }
    DWORD ValueCount(const std::string& keyPath)
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return 0xdeadbeef;
        DWORD values = 0xdeadbeef;
        ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                           nullptr, nullptr, nullptr);
        ::RegCloseKey(key);
        return values;
    }

    std::string m_root;
    std::string m_key;
    CRegistrySettings m_settings;
};

std::string Dword(DWORD value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

TEST_F(RegistrySettingsTest, ReadStringTakesStringValueUpToFirstNul)
{
    Set("Plain", REG_SZ, std::string("10.0.0.2\0", 9));
    Set("Unterminated", REG_SZ, "abc");
    Set("Embedded", REG_SZ, std::string("abc\0def\0", 8));
    EXPECT_EQ("10.0.0.2", m_settings.ReadString(m_key, "Plain"));
    EXPECT_EQ("abc", m_settings.ReadString(m_key, "Unterminated"));
    EXPECT_EQ("abc", m_settings.ReadString(m_key, "Embedded"));
}

TEST_F(RegistrySettingsTest, ReadStringYieldsEmptyForOtherTypesAndMissingValues)
{
    Set("Expandable", REG_EXPAND_SZ, std::string("C:\\Vela\0", 8));
    Set("Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
    Set("Binary", REG_BINARY, "abc");
    SetDword("Number", 1);
    Set("Empty", REG_SZ, "");
    for (const char* name : {"Expandable", "Multi", "Binary", "Number", "Empty", "Missing"})
        EXPECT_EQ("", m_settings.ReadString(m_key, name)) << name;
    EXPECT_EQ(5u, ValueCount(m_key)); // reading wrote nothing
}

TEST_F(RegistrySettingsTest, ReadStringOnMissingKeyCreatesItEmpty)
{
    const std::string missing = m_key + "\\Missing";
    EXPECT_EQ("", m_settings.ReadString(missing, "SecDNSServerIP"));
    EXPECT_EQ(0u, ValueCount(missing));
}

TEST_F(RegistrySettingsTest, ReadDWORDReadsDwordValuesOnly)
{
    SetDword("SecondaryDNS", 0x12345678);
    Set("AsString", REG_SZ, std::string("1\0", 2));
    Set("AsBinary", REG_BINARY, Dword(1));
    EXPECT_EQ(0x12345678u, m_settings.ReadDWORD(m_key, "SecondaryDNS"));
    EXPECT_EQ(0u, m_settings.ReadDWORD(m_key, "AsString"));
    EXPECT_EQ(0u, m_settings.ReadDWORD(m_key, "AsBinary"));
    // Values of the wrong type are left as they are.
    EXPECT_EQ(std::make_pair(DWORD(REG_SZ), std::string("1\0", 2)), Query(m_key, "AsString"));
    EXPECT_EQ(std::make_pair(DWORD(REG_BINARY), Dword(1)), Query(m_key, "AsBinary"));
}

TEST_F(RegistrySettingsTest, ReadDWORDCreatesMissingValueOnlyInExistingKey)
{
    const std::string missing = m_key + "\\Missing";
    EXPECT_EQ(0u, m_settings.ReadDWORD(missing, "SecondaryDNS"));
    EXPECT_EQ(0u, ValueCount(missing)); // the key was made by the read, the value was not

    EXPECT_EQ(0u, m_settings.ReadDWORD(missing, "SecondaryDNS")); // now the key existed
    EXPECT_EQ(std::make_pair(DWORD(REG_DWORD), Dword(0)), Query(missing, "SecondaryDNS"));

    SetDword("Later", 0);
    EXPECT_EQ(0u, m_settings.ReadDWORD(m_key, "Later"));
    SetDword("Later", 1);
    EXPECT_EQ(1u, m_settings.ReadDWORD(m_key, "Later"));
}

} // namespace
