// SPDX-License-Identifier: MIT
// Host callback types, the callback record each codec is given, and the process-wide registry.
#pragma once

#include <cstdint>

#include "orveln1.h"

namespace orveln1
{

using read_fn = orveln1_read_fn;
using write_fn = orveln1_write_fn;
using put_row_fn = orveln1_put_row_fn;
using get_row_fn = orveln1_get_row_fn;

// What a codec calls back through. The exports fill it from the registry; the in-memory API and the
// tests fill it directly, so that a codec never reaches for process-wide state.
struct codec_callbacks {
    read_fn read = nullptr;
    write_fn write = nullptr;
    put_row_fn put_row = nullptr;
};

// The four slots that set_callbacks fills. The spare slot is kept only because the interface has it.
struct callback_registry {
    read_fn read = nullptr;
    write_fn write = nullptr;
    int32_t spare = 0;
    put_row_fn put_row = nullptr;
};

void registry_store(read_fn read, write_fn write, int32_t spare, put_row_fn put_row) noexcept;
[[nodiscard]] codec_callbacks registered_callbacks() noexcept;

} // namespace orveln1
