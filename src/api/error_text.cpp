// SPDX-License-Identifier: MIT
// Names of the result codes, for hosts that report them.
#include "orveln1.hpp"

namespace orveln1
{

std::string error_text(int32_t code)
{
    switch (code) {
    case ORVELN1_ERR_NO_MEMORY:
        return "out of memory";
    case ORVELN1_ERR_BAD_DATA:
        return "undecodable data or unusable arguments";
    case ORVELN1_ERR_WRITE:
        return "write failed";
    case ORVELN1_ERR_UNSUPPORTED_DEPTH:
        return "unsupported pixel depth";
    case ORVELN1_ERR_NO_CALLBACK:
        return "callback missing";
    case ORVELN1_ERR_NOT_GIF:
        return "not a GIF stream";
    case ORVELN1_ERR_GIF_TRUNCATED:
        return "GIF stream cut short";
    case ORVELN1_ERR_GIF_BAD_RECORD:
        return "unknown record in GIF stream";
    case ORVELN1_ERR_GIF_NO_IMAGE:
        return "no such image in GIF stream";
    default:
        return code >= 0 ? "success" : "host callback refused (" + std::to_string(code) + ")";
    }
}

} // namespace orveln1
