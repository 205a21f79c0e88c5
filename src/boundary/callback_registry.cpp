// SPDX-License-Identifier: MIT
// The callback registry: the library's only process-wide state, written by set_callbacks alone.
#include "boundary/callbacks.hpp"

namespace orveln1
{
namespace
{
callback_registry registry;
}

void registry_store(read_fn read, write_fn write, int32_t spare, put_row_fn put_row) noexcept
{
    registry = callback_registry{read, write, spare, put_row};
}

callback_registry registry_load() noexcept
{
    return registry;
}

codec_callbacks registered_callbacks() noexcept
{
    return codec_callbacks{registry.read, registry.write, registry.put_row};
}

} // namespace orveln1
