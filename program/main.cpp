#include "program/main.h"

#include "program/exit.h"

int P_Main(int /*argc*/, char** /*argv*/) {
    // Nothing is started yet beyond the entry itself.
    P_Exit(0);
}
