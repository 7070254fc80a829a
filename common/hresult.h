// Status codes travel in the HRESULT convention; exceptions are only the last net.
#pragma once

#include <windows.h>

#include <stdexcept>

#define RETURN_IF_FAILED(expr)                 \
    do {                                       \
        const HRESULT hr_ = (expr);            \
        if (FAILED(hr_)) return hr_;           \
    } while (0)

namespace dl {

// A TRUE result of a platform call is S_OK, anything else E_FAIL.
inline HRESULT HrFromBool(BOOL ok) noexcept { return ok ? S_OK : E_FAIL; }

// An error raised by the COM support (a failed allocation, a missing object); carries its code.
class ComError : public std::runtime_error {
public:
    explicit ComError(HRESULT code) : std::runtime_error("COM error"), code_(code) {}
    HRESULT code() const noexcept { return code_; }

private:
    HRESULT code_;
};

}  // namespace dl
