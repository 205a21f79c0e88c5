// SPDX-License-Identifier: MIT
// The callback registry's slots read back, for the registry's own test: nothing in the library reads
// the spare slot, so only this view shows that set_callbacks stored it.
#pragma once

#include "boundary/callbacks.hpp"

namespace orveln1
{

extern callback_registry registry_slots; // src/boundary/callback_registry.cpp

[[nodiscard]] inline callback_registry registry_load() noexcept
{
    return registry_slots;
}

} // namespace orveln1
