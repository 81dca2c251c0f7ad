// Test seam of the DirectShow stand-in: the graph's clock, failing steps, and
// a record of what was asked.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct DShowSeam {
    bool manualClock = false;  // time moves only through DShow_SeamAdvance
    int64_t nowMs = 0;
    std::set<uint32_t> failClasses;  // Data1 of class ids whose creation fails
    bool failInitialize = false;
    bool failAddVideo = false;
    bool failAddAudio = false;
    bool failOpen = false;
    bool failGetVideo = false;
    bool failGetAudio = false;
    bool failPosition = false;
    bool failControl = false;
    bool failBasicAudio = false;
    bool failVideoSample = false;
    bool failRun = false;
    std::vector<std::string> calls;
};

DShowSeam& DShow_Seam();
void DShow_ResetSeam();
void DShow_SeamAdvance(int64_t ms);
// Live objects of the stand-in; 0 once everything was released.
int DShow_LiveObjects();
