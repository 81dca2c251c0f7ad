#include "program/exit.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/log.h"

void P_Exit(int reason) {
    static bool s_exiting = false;
    // The reason is a 16-bit number; the process status holds 8 bits, and a
    // failure must never read as success.
    const uint16_t r = static_cast<uint16_t>(reason);
    const int status = r > 255 ? 255 : r;
    if (s_exiting) {
        // Called again while ending (from a handler run at exit): end at once.
        std::fflush(nullptr);
        _exit(status);
    }
    s_exiting = true;
    Qel_ErrPrintf("EXIT(%d)!!!\n", r);
    std::exit(status);
}
