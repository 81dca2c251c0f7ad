// STAND-IN for the renderer until its modules come: answers the renderer
// start-up that the scene engine's start-up runs, and records it
// (program/standin_calls.h).
#pragma once

// 1 when the renderer is ready.
int S_3DInit();
