// The module's entry points: the only extern "C" definitions. Each binds the registry (or its own
// arguments) into a callback record, refuses a call whose callbacks are missing, and forwards.
#include "orveln1.h"

#include "boundary/callbacks.hpp"

using namespace orveln1;

extern "C" {

ORVELN1_API int32_t ORVELN1_CALL set_callbacks(orveln1_read_fn read_fn, orveln1_write_fn write_fn, int32_t spare,
                                               orveln1_put_row_fn put_row_fn)
{
    registry_store(read_fn, write_fn, spare, put_row_fn);
    return 0;
}

} // extern "C"
