// SPDX-License-Identifier: MIT
// The kinds of failure the tool reports (a message for the user, printed as a single line) and the
// warnings it gives when it converts while dropping something.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace orveln1::tool
{

// Thrown by the readers, writers and converters for what the input holds; the command line turns it
// into "orveln: IN: message" and exit code 1.
class failure : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// Thrown when the output cannot be written (a full disk, a protected target): the message names
// the output file instead of the input.
class output_failure : public failure
{
  public:
    using failure::failure;
};

// Thrown for a command line the tool cannot act on (exit code 2).
class usage_error : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// The file the current warnings are about; the command line sets it to the input's name.
inline std::string warning_subject;

// While set, warnings wait in held_warnings, so that a conversion that fails after all says only
// why it failed.
inline bool hold_warnings = false;
inline std::vector<std::string> held_warnings;

// Says on standard error what a conversion dropped or worked around; it still succeeds.
inline void warn(const std::string &message)
{
    const std::string line =
        "orveln: " + (warning_subject.empty() ? std::string() : warning_subject + ": ") + "warning: " + message + "\n";
    if (hold_warnings)
        held_warnings.push_back(line);
    else
        std::fputs(line.c_str(), stderr);
}

inline void release_warnings()
{
    for (const std::string &line : held_warnings)
        std::fputs(line.c_str(), stderr);
    held_warnings.clear();
    hold_warnings = false;
}

// With -v the tool says how it read what it read (which decoder, which workaround).
inline bool verbose = false;

inline void note(const std::string &message)
{
    if (verbose)
        std::fprintf(stderr, "orveln: %s%s%s\n", warning_subject.c_str(), warning_subject.empty() ? "" : ": ",
                     message.c_str());
}

} // namespace orveln1::tool
