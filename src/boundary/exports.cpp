// The module's entry points: the only extern "C" definitions. Each binds the registry (or its own
// arguments) into a callback record, refuses a call whose callbacks are missing, and forwards.
#include "orveln1.h"

#include "boundary/callbacks.hpp"

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace orveln1;

extern "C" {

ORVELN1_API int32_t ORVELN1_CALL set_callbacks(orveln1_read_fn read_fn, orveln1_write_fn write_fn, int32_t spare,
                                               orveln1_put_row_fn put_row_fn)
{
    registry_store(read_fn, write_fn, spare, put_row_fn);
    return 0;
}

#if defined(_WIN32)
// The module's load and unload notifications. The library keeps nothing that needs setting up or
// tearing down (working blocks live inside one call; the registry starts empty), so every
// notification just reports success. The .def file keeps it out of the export table.
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    static_cast<void>(module);
    static_cast<void>(reason);
    static_cast<void>(reserved);
    return TRUE;
}
#endif

} // extern "C"
