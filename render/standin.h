// STANDIN: the renderer's start-up that the scene engine's start-up runs;
// answers it and records it.
#pragma once

// 1 when the renderer is ready.
int S_3DInit();
