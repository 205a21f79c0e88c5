// SPDX-License-Identifier: MIT
// The code loop both decoders share, over a scripted policy: which of the policy's steps each code
// reaches, that a stop ends the loop before anything else is read or put, and that a long string
// sent back to the common path is taken there with the entry looked up for it.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "lzw/lzw_decode_loop.hpp"

using namespace orveln1;

namespace
{

// Codes below 10 are roots where roots_below says so; the table names codes below next_code, 20
// and up being long strings (their length is the code); each call is written down in `trace`.
struct scripted {
    struct entry {
        uint32_t length;
    };
    using common_string = uint32_t;
    static constexpr uint32_t long_from = 20;

    std::vector<uint32_t> codes;
    uint32_t roots = 0;
    uint32_t next = 30;
    std::map<uint32_t, lzw_step> long_steps = {};
    lzw_step new_step = lzw_step::common;
    std::size_t room_until = SIZE_MAX; // has_room is false from this code on
    bool more_room = true;
    std::size_t at = 0;
    std::string trace = {};

    bool has_room() const { return at < room_until; }
    bool make_room()
    {
        trace += "room ";
        room_until = SIZE_MAX;
        return more_room;
    }
    uint32_t read_code() { return at < codes.size() ? codes[at++] : 999; }
    uint32_t roots_below() const { return roots; }
    uint32_t next_code() const { return next; }
    entry look_up(uint32_t c) const { return {c}; }
    void take_root(uint32_t c) { trace += "root" + std::to_string(c) + " "; }
    lzw_step take_long(uint32_t c, uint32_t n)
    {
        trace += "long" + std::to_string(c) + " ";
        EXPECT_EQ(n, c);
        return long_steps.at(c);
    }
    uint32_t common(uint32_t c, const entry &e)
    {
        trace += "common" + std::to_string(c) + " ";
        EXPECT_EQ(e.length, c);
        return c;
    }
    lzw_step take_new(uint32_t c, uint32_t &s)
    {
        trace += "new" + std::to_string(c) + " ";
        s = c;
        return new_step;
    }
    void unknown(uint32_t c) { trace += "unknown" + std::to_string(c); }
    void put(uint32_t s)
    {
        trace += "put" + std::to_string(s) + " ";
        ++next;
    }
};

struct loop_case {
    const char *name;
    scripted policy;
    const char *trace;
};

TEST(lzw_decode_loop, EachCodeReachesItsStepsAndAStopEndsTheLoop)
{
    const loop_case cases[] = {
        {"roots_by_their_path", {{3, 12}, 10}, "root3 common12 put12 unknown999"},
        {"roots_by_the_common_path", {{3}, 0}, "common3 put3 unknown999"},
        {"long_sent_back", {{25}, 0, 30, {{25, lzw_step::common}}}, "long25 common25 put25 unknown999"},
        {"long_taken", {{25, 4}, 0, 30, {{25, lzw_step::taken}}}, "long25 common4 put4 unknown999"},
        {"long_stops", {{25, 4}, 0, 30, {{25, lzw_step::stop}}}, "long25 "},
        {"new_code_put", {{30, 31}, 0, 30}, "new30 put30 new31 put31 unknown999"},
        {"new_code_taken", {{30, 30}, 0, 30, {}, lzw_step::taken}, "new30 new30 unknown999"},
        {"new_code_stops", {{30, 4}, 0, 30, {}, lzw_step::stop}, "new30 "},
        {"above_the_next_code", {{31, 4}, 0, 30}, "unknown31"},
        {"room_made", {{4, 5}, 0, 30, {}, lzw_step::common, 1}, "common4 put4 room common5 put5 unknown999"},
        {"no_room_left", {{4, 5}, 0, 30, {}, lzw_step::common, 1, false}, "common4 put4 room "},
    };
    for (const loop_case &c : cases) {
        scripted d = c.policy;
        lzw_decode_codes(d);
        EXPECT_EQ(d.trace, c.trace) << c.name;
    }
}

} // namespace
