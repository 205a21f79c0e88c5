// SPDX-License-Identifier: MIT
// The shipped choice of the decoders' CPU-dependent paths: what the CPU offers.
#include "lzw/lzw_paths.hpp"

namespace orveln1
{

lzw_paths lzw_choose_paths() noexcept
{
    return lzw_cpu_paths();
}

} // namespace orveln1
