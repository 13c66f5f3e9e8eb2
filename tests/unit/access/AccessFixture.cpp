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
    ::CreateDirectoryA((m_installDir / "web").c_str(), nullptr);
    ::CreateDirectoryA((m_installDir / "web\\admin").c_str(), nullptr);
    m_installPath = std::make_unique<ScopedInstallPath>(m_installDir.path());

    Activations() = ActivationControl{};
    testagent::Reset();
    m_previous = SetActivationFunction(&FakeActivate);
}

void AccessTest::TearDown()
{
    m_objects.clear(); // closes their logs before the folder goes
    SetActivationFunction(m_previous);
    m_installPath.reset();
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
    if (::GetFileAttributesA(LogPath().c_str()) == INVALID_FILE_ATTRIBUTES) return {};
    const std::string content = ReadFileBytes(LogPath());
    const std::vector<std::string> lines = SplitLines(content);
    size_t length = 0;
    for (const std::string& line : lines)
        length += line.size() + 2;
    EXPECT_EQ(content.size(), length) << "the log ends with an unterminated line";
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
