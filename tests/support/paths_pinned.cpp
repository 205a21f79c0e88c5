// SPDX-License-Identifier: MIT
// The test build's lzw_choose_paths: what the CPU offers, unless ORVELN1_FORCE_PATHS pins the
// decoders to their plain paths ("plain"), so that the tests run every path on every target.
// Linked before the core, like the instrumented memory, so that the core's own is never pulled in.
#include <cstdlib>
#include <cstring>

#include "lzw/lzw_paths.hpp"

namespace orveln1
{

lzw_paths lzw_choose_paths() noexcept
{
    const char *forced = std::getenv("ORVELN1_FORCE_PATHS");
    if (forced != nullptr && std::strcmp(forced, "plain") == 0)
        return {};
    return lzw_cpu_paths();
}

} // namespace orveln1
