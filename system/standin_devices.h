// STAND-IN for the start dialog while it is being built: the call the
// program's start-up makes, with the name it will have. It records the call
// (program/standin_calls.h) and can be made to fail. Delete it once the start
// dialog is on main.
#pragma once

// 0 when the user cancels.
int S_RunStartDialog();
