// SPDX-License-Identifier: MIT
// The callback registry: the library's only process-wide state, written by set_callbacks alone.
#include "boundary/callbacks.hpp"

namespace orveln1
{

// The slots, named outside this file only by the registry's test, which reads the spare slot back
// (nothing in the library reads it).
callback_registry registry_slots;

void registry_store(read_fn read, write_fn write, int32_t spare, put_row_fn put_row) noexcept
{
    registry_slots = callback_registry{read, write, spare, put_row};
}

codec_callbacks registered_callbacks() noexcept
{
    return codec_callbacks{registry_slots.read, registry_slots.write, registry_slots.put_row};
}

} // namespace orveln1
