// STANDIN: the call recorder of the stand-ins: every stand-in records the calls
// it receives here, in order, so tests can assert the order in which start-up,
// the game loop and the exit drive the modules still to come.
#pragma once

#include <string>
#include <vector>

// Appends a call ("B3D_Init", "SA_UpdateSpace" ...) and runs the hook.
void StandIn_Record(const char* call);
const std::vector<std::string>& StandIn_Calls();
void StandIn_ClearCalls();

// Test seams: a call named here answers failure (0 or null); a hook runs after
// every recorded call (tests use it to request a save, a load or a pause at a
// chosen frame).
void StandIn_SetFailure(const char* call, bool fail);
bool StandIn_Fails(const char* call);
using StandInHook = void (*)(const char* call);
void StandIn_SetHook(StandInHook hook);
// Clears the calls, the failures and the hook.
void StandIn_Reset();

// The calls the space simulation makes into the cockpit and the effects as
// objects leave play, recorded with the object's ID ("INS_RemoveObjectReferences
// 12", "EO_PlayExplosionSound 12" ...) for the order tests of the kill; the
// list, clearing it, and recording one.
const std::vector<std::string>& StandIn_ObjectCalls();
void StandIn_ClearObjectCalls();
void StandIn_RecordObjectCall(const std::string& call);
