// SPDX-License-Identifier: MIT
// The test build's lzw_choose_paths: what the CPU offers and the data judges, unless
// ORVELN1_FORCE_PATHS pins some of it, as a comma-separated list of settings:
//   plain                        the plain paths, whatever the CPU offers (no SSE2 path)
//   roots=general|one_by_one|in_fours    the decoders' verdict on roots
//   short=on|off                 the TIFF decoder's loop of short strings
//   dictionary=first|short       the encoders' dictionary form (short: hashed, or direct rows)
// so that the tests run every path on every target. Linked before the core, like the instrumented
// memory, so that the core's own is never pulled in. An unknown setting stops the test run. The
// variable is read once, at the first call: the benchmark, which links this too, is not to pay for a
// look-up per codec call.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "lzw/lzw_decode_table.hpp"
#include "lzw/lzw_paths.hpp"

namespace orveln1
{

namespace
{

lzw_paths pinned_paths() noexcept
{
    lzw_paths paths = lzw_cpu_paths();
    const char *forced = std::getenv("ORVELN1_FORCE_PATHS");
    std::string_view rest = forced != nullptr ? forced : "";
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view setting = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        if (setting == "plain" || setting == "default") {
            if (setting == "plain")
                paths.sse2_words = paths.blended_fill = false;
        } else if (setting == "roots=general") {
            paths.roots = static_cast<int8_t>(lzw_roots_path::general);
        } else if (setting == "roots=one_by_one") {
            paths.roots = static_cast<int8_t>(lzw_roots_path::one_by_one);
        } else if (setting == "roots=in_fours") {
            paths.roots = static_cast<int8_t>(lzw_roots_path::in_fours);
        } else if (setting == "short=on" || setting == "short=off") {
            paths.short_strings = setting == "short=on" ? 1 : 0;
        } else if (setting == "dictionary=first" || setting == "dictionary=short") {
            paths.dictionary = setting == "dictionary=short" ? 1 : 0;
        } else {
            std::fprintf(stderr, "ORVELN1_FORCE_PATHS: unknown setting '%.*s'\n", static_cast<int>(setting.size()),
                         setting.data());
            std::abort();
        }
    }
    return paths;
}

} // namespace

lzw_paths lzw_choose_paths() noexcept
{
    static const lzw_paths paths = pinned_paths();
    return paths;
}

} // namespace orveln1
