// The engine's plain global state back to its start values between tests, so
// that tests sharing one process see what a fresh process would show them.
// Records a test still owns (a SystemState, an input record...) are not freed
// here: a test that leaves one behind is a leak the leak checker should see.
#pragma once

void ResetEngineGlobals();
