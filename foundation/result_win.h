#pragma once
// Result helpers: one line turns a failed HRESULT into an early return.
#include <windows.h>

#define KV_RETURN_IF_FAILED(expr)                 \
    do {                                           \
        const HRESULT kv_hr_ = (expr);             \
        if (FAILED(kv_hr_)) return kv_hr_;         \
    } while (0)
