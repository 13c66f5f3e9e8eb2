#include "common/Result.h"

#include <new>

namespace vela {

void ThrowHResult(HRESULT hr)
{
    throw HResultException(hr);
}

HRESULT ResultFromCaughtException() noexcept
{
    try {
        throw;
    } catch (const HResultException& e) {
        return e.code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace vela
