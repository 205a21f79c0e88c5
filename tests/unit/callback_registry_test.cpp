// SPDX-License-Identifier: MIT
// The registry: every store replaces all four slots; the codec record carries what codecs use.
#include <gtest/gtest.h>

#include "boundary/callbacks.hpp"
#include "support/registry_view.hpp"

using namespace orveln1;

namespace
{

const read_fn read_a = [](int32_t, uint8_t *, int32_t) -> int32_t { return 1; };
const write_fn write_a = [](int32_t, const uint8_t *, int32_t) -> int32_t { return 2; };
const put_row_fn put_a = [](const uint8_t *, int32_t, int32_t, int32_t) -> int32_t { return 3; };
const read_fn read_b = [](int32_t, uint8_t *, int32_t) -> int32_t { return 4; };

TEST(callback_registry, LaterStoreReplacesAllFourSlots)
{
    registry_store(read_a, write_a, 17, put_a);
    callback_registry r = registry_load();
    EXPECT_TRUE(r.read == read_a && r.write == write_a && r.spare == 17 && r.put_row == put_a);
    registry_store(read_b, nullptr, 0, nullptr);
    r = registry_load();
    EXPECT_TRUE(r.read == read_b && r.write == nullptr && r.spare == 0 && r.put_row == nullptr);
    const codec_callbacks c = registered_callbacks();
    EXPECT_TRUE(c.read == read_b && c.write == nullptr && c.put_row == nullptr);
}

} // namespace
