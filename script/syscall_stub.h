// Stand-in for the built-in calls of module 1 until they are built: every
// call is logged and answered with INTEGER 0. SE_SysCall is declared in
// script/modules.h; the built-in calls replace syscall_stub.cpp.
#pragma once

#include "script/modules.h"
