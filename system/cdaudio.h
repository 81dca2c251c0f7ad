// Compact-disc audio through the multimedia library's "cdaudio" device: the
// drive holding the game's disc, whole tracks played with a completion notice
// through the window procedure, track lengths and counts; and the CD line and
// MIDI synthesiser volumes.
#pragma once

#include <cstdint>

void S_FindCDDrive(uint32_t audioFlags);
int S_OpenCDAudio(const char* drive);
uint32_t S_CDGetTrackLength(int track);
uint32_t S_CDGetTrackCount();
int S_CDPlayTrack(int track);
void S_CDStop();
// Stops and closes the device and the second device slot (closing audio).
void S_CloseCDAudio();
void S_SetCDVolume(uint32_t volume);
void S_SetMidiVolume(uint32_t volume);
