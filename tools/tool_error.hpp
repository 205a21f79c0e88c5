// SPDX-License-Identifier: MIT
// The one kind of failure the tool reports: a message for the user, printed as a single line.
#pragma once

#include <stdexcept>
#include <string>

namespace orveln1::tool
{

// Thrown by the readers, writers and converters; the command line turns it into
// "orveln: FILE: message" and exit code 1.
class failure : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// Thrown for a command line the tool cannot act on (exit code 2).
class usage_error : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

} // namespace orveln1::tool
