// Timed script events (TimerBase, the TI_ engine calls).
//
// STAND-IN SEAM: the timed-event module is not built yet. This file holds the
// least the program's start-up, game loop and exit call: Timer_Init registers
// the TI_ module in its place (module 4) and starts the clocks, Timer_Update
// reads the frame deltas and frame rate; no event is ever queued. The real
// module replaces both files, keeping these names.
#pragma once

#include <cstdint>

struct TimerBase {
    int32_t moduleNumber;   // given by the script engine's registry
};

// The one TimerBase; main allocates it and hands its memory to Timer_Init.
extern TimerBase* g_TimerBase;

TimerBase* Timer_Init(TimerBase* memory);
// Per frame, before the message pump: game and real frame deltas, frame rate,
// then the due events.
void Timer_Update();
// Answers and frees every event (location reset).
void Timer_ClearAll();
// Frees every event without answering (exit).
void Timer_FreeAllNodes(TimerBase* base);
