// Shared ground for the server-access tests: a private install directory for the action
// log, the in-process test agent behind a replaced activation function, and raw reads
// of the log file.
#pragma once

#include "access/VelaServerAccess.h"
#include "log/RegistrySettings.h"
#include "remote/Activation.h"
#include "LogTestSupport.h"
#include "TestAgent.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vela::test {

// A bare object for tests: the component's frame supplies IUnknown and IDispatch in the
// product; here only the members are exercised, through the interface's function table.
template <typename T> class Bare final : public T {
public:
    STDMETHODIMP QueryInterface(REFIID, void** out) noexcept override
    {
        if (out) *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 1; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override
    {
        return E_NOTIMPL;
    }
};

struct Activation {
    CLSID clsid;
    IID iid;
    DWORD context;
    bool serverNameNull;
    std::wstring serverName;
    DWORD requestCount;
};

// What the replaced activation function does; every activation is recorded.
struct ActivationControl {
    HRESULT activationResult = S_OK; // returned by the activation call itself
    HRESULT interfaceResult = S_OK;  // the one interface request's own result
    std::vector<Activation> seen;
};
ActivationControl& Activations();

// An owned BSTR made from a literal (a literal is not a BSTR: it has no length prefix).
class Text {
public:
    Text(const wchar_t* text) : m_bstr(::SysAllocString(text)) {}
    Text(const std::wstring& text) : m_bstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
    }
    operator BSTR() const noexcept { return m_bstr.get(); }

private:
    unique_bstr m_bstr;
};

std::wstring Wide(const std::string& text);
std::string SystemMessage(HRESULT hr); // FormatMessageA's text, one trailing CR LF cut
std::string ErrorTextFor(HRESULT hr);  // "<message>[<hex>]"

class AccessTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the object under test; its constructor opens the log in m_logDir.
    IVelaServerAccess* NewObject();
    std::string StrError(IVelaServerAccess* object);

    // The log file, read with plain file reads, split into lines without CR LF.
    std::vector<std::string> LogLines() const;
    std::string LogPath() const { return m_installDir.path() + "\\web\\admin\\Logs\\VelaDComClient.csv"; }
    // The last record without its date and time: "action,comments,".
    std::string LastRecord() const;

    std::vector<std::string> Journal() const; // agent calls without instance numbers

    TempDir m_installDir;
    std::unique_ptr<ScopedInstallPath> m_installPath;
    ActivationFunction m_previous = nullptr;
    std::vector<std::unique_ptr<Bare<CVelaServerAccess>>> m_objects;
};

} // namespace vela::test
