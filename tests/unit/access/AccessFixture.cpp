#include "AccessFixture.h"

#include <regex>

namespace vela::test {

ActivationControl& Activations()
{
    static ActivationControl control;
    return control;
}

namespace {

HRESULT FakeActivate(REFCLSID clsid, DWORD context, COSERVERINFO* server, MULTI_QI* request)
{
    ActivationControl& control = Activations();
    control.seen.push_back({clsid, *request->pIID, context, server->pwszName == nullptr,
                            server->pwszName ? server->pwszName : L"", 1});
    if (FAILED(control.activationResult)) return control.activationResult;
    if (FAILED(control.interfaceResult)) {
        request->pItf = nullptr;
        request->hr = control.interfaceResult;
        return S_OK;
    }
    request->hr = testagent::CreateAgent(clsid, *request->pIID, reinterpret_cast<void**>(&request->pItf));
    return request->hr;
}

void SetInstallPath(const std::string& path)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kGeneralKey, 0, nullptr, 0, KEY_WRITE,
                                               nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExA(key, "InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                               static_cast<DWORD>(path.size() + 1)));
    ::RegCloseKey(key);
}

} // namespace

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                        static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return wide;
}

std::string SystemMessage(HRESULT hr)
{
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                     static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                     reinterpret_cast<char*>(&text), 0, nullptr);
    if (n == 0 || !text) return {};
    std::string message(text);
    ::LocalFree(text);
    if (message.size() > 1 && message.back() == '\n') {
        message.pop_back();
        if (!message.empty() && message.back() == '\r') message.pop_back();
    }
    return message;
}

std::string ErrorTextFor(HRESULT hr)
{
    char text[64];
    std::string message = SystemMessage(hr);
    if (message.empty()) {
        const auto code = static_cast<unsigned long>(hr);
        if (code > 0x80040200ul && code <= 0x8004FFFFul)
            std::snprintf(text, sizeof text, "IDispatch error #%lu", code - 0x80040200ul);
        else
            std::snprintf(text, sizeof text, "Unknown error 0x%lX", code);
        message = text;
    }
    std::snprintf(text, sizeof text, "[%lx]", static_cast<unsigned long>(hr));
    return message + text;
}

void AccessTest::SetUp()
{
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    static int counter = 0;
    m_installDir = std::string(temp) + "vela-access-" + std::to_string(::GetCurrentProcessId()) + "-" +
                   std::to_string(++counter);
    m_adminDir = m_installDir + "\\web\\admin";
    ::CreateDirectoryA(m_installDir.c_str(), nullptr);
    ::CreateDirectoryA((m_installDir + "\\web").c_str(), nullptr);
    ::CreateDirectoryA(m_adminDir.c_str(), nullptr);
    SetInstallPath(m_installDir);

    Activations() = ActivationControl{};
    testagent::Reset();
    m_previous = SetActivationFunction(&FakeActivate);
}

void AccessTest::TearDown()
{
    m_objects.clear();
    SetActivationFunction(m_previous);
    ::DeleteFileA(LogPath().c_str());
    ::RemoveDirectoryA((m_adminDir + "\\Logs").c_str());
    ::RemoveDirectoryA(m_adminDir.c_str());
    ::RemoveDirectoryA((m_installDir + "\\web").c_str());
    ::RemoveDirectoryA(m_installDir.c_str());
}

IVelaServerAccess* AccessTest::NewObject()
{
    m_objects.push_back(std::make_unique<Bare<CVelaServerAccess>>());
    return m_objects.back().get();
}

std::string AccessTest::StrError(IVelaServerAccess* object)
{
    BSTR text = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(S_OK, object->get_strError(&text));
    std::string narrow(text ? ::SysStringLen(text) : 0, '\0');
    if (text)
        ::WideCharToMultiByte(CP_ACP, 0, text, ::SysStringLen(text), narrow.data(),
                              static_cast<int>(narrow.size()), nullptr, nullptr);
    ::SysFreeString(text);
    return narrow;
}

std::vector<std::string> AccessTest::LogLines() const
{
    std::vector<std::string> lines;
    HANDLE file = ::CreateFileA(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    std::string content;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        content.append(buffer, read);
    ::CloseHandle(file);
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    EXPECT_EQ(content.size(), start) << "the log ends with an unterminated line";
    return lines;
}

std::string AccessTest::LastRecord() const
{
    const std::vector<std::string> lines = LogLines();
    if (lines.size() < 2) return "<no record>";
    static const std::regex stamp(R"(^\d\d/\d\d/\d\d,\d\d:\d\d:\d\d,)");
    std::smatch match;
    const std::string& line = lines.back();
    if (!std::regex_search(line, match, stamp)) return "<no date and time>" + line;
    return match.suffix();
}

std::vector<std::string> AccessTest::Journal() const
{
    std::vector<std::string> calls;
    for (const testagent::Call& call : testagent::Calls()) {
        std::string line = call.ToString();
        calls.push_back(call.className + "." + line.substr(line.find('.') + 1));
    }
    return calls;
}

} // namespace vela::test
