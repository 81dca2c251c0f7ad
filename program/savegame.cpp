#include "program/savegame.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "cockpit/effects.h"
#include "cockpit/explosions.h"
#include "cockpit/galaxy.h"
#include "cockpit/cockpits.h"
#include "cockpit/save.h"
#include "program/exit.h"
#include "program/gamesound.h"
#include "program/main.h"
#include "program/movies.h"
#include "scene/freeing.h"
#include "scene/savesection.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"
#include "script/arrays.h"
#include "script/context.h"
#include "script/savegame.h"
#include "space/save.h"
#include "system/clock.h"
#include "system/standin_fields.h"
#include "system/timer.h"
#include "system/userpaths.h"

namespace {

constexpr char kKsa[] = "KSA3";
constexpr char kSysb[] = "SYSB";
constexpr char kFix[] = "FIX ";
constexpr char kCockpit[] = "INS ";
constexpr char kEnd[] = "/KSA";
constexpr uint32_t kSystemWords = 6;
constexpr uint32_t kNameLimit = 1000;  // name 1 and name 2
constexpr uint32_t kStoryLimit = 100;
// The slot list shows a little less.
constexpr uint32_t kListNameLimit = 999;
constexpr uint32_t kListStoryLimit = 99;
// The clocks wrap here.
constexpr int64_t kClockSpan = 32400000;

std::string SlotName(int32_t slot) {
    char name[64];
    P_SaveFileName(slot, name, sizeof name);
    return name;
}

// The save folder word: the part of the save template before its last '\'.
std::string SaveFolderWord() {
    const AppDescriptor* app = g_SystemState ? g_SystemState->app : nullptr;
    std::string t = app && app->saveTemplate ? app->saveTemplate : "save\\Qel%02d.sav";
    const size_t cut = t.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : t.substr(0, cut);
}

// A slot's file that exists with at least one byte.
bool SlotExists(int32_t slot) { return Qel_fsize(1, SlotName(slot).c_str()) > 0; }

void PutWord(uint8_t* b, uint32_t v) {
    b[0] = static_cast<uint8_t>(v >> 24);
    b[1] = static_cast<uint8_t>(v >> 16);
    b[2] = static_cast<uint8_t>(v >> 8);
    b[3] = static_cast<uint8_t>(v);
}
uint32_t GetWord(const uint8_t* b) {
    return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

// Writes of the header: every one checked, the first failure kept.
struct Writer {
    QelFile* file;
    bool ok = true;
    void Bytes(const void* p, size_t n) {
        if (ok && Qel_fwriteBlock(file, 1, n, p) != n) ok = false;
    }
    void Word(uint32_t v) {
        uint8_t b[4];
        PutWord(b, v);
        Bytes(b, 4);
    }
    void Cookie(const char* c) { Bytes(c, 4); }
    void Text(const char* t) {
        const auto n = static_cast<uint32_t>(std::strlen(t));
        Word(n);
        Bytes(t, n + 1);
    }
};

bool ReadWord(QelFile* f, uint32_t* v) {
    uint8_t b[4];
    if (Qel_fread(f, 1, 4, b) != 4) return false;
    *v = GetWord(b);
    return true;
}
bool ReadCookie(QelFile* f, const char* cookie) {
    char b[4];
    return Qel_fread(f, 1, 4, b) == 4 && std::memcmp(b, cookie, 4) == 0;
}
// A text field of at most `limit` characters; false when longer or cut short.
bool ReadText(QelFile* f, uint32_t limit, std::string* out, uint32_t* length) {
    if (!ReadWord(f, length) || *length > limit) return false;
    out->assign(*length + 1, '\0');
    if (Qel_fread(f, 1, *length + 1, out->data()) != *length + 1) return false;
    out->resize(*length);
    // The saved terminator is not trusted: the text ends at its first 0.
    out->resize(std::strlen(out->c_str()));
    return true;
}

// A story name that stays inside the game folder: no "..", no leading
// separator and no drive.
bool StoryNameStaysInside(const std::string& name) {
    if (name.empty() || name[0] == '\\' || name[0] == '/' || name.find(':') != std::string::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    return true;
}

int32_t FoldClock(uint32_t saved) {
    int64_t v = static_cast<int32_t>(saved) % kClockSpan;
    if (v < 0) v += kClockSpan;
    return static_cast<int32_t>(v);
}

// Makes the save folder when it is missing. The per-user folder (found once
// and kept by the path layer) goes back through the path folding as it is.
void EnsureSaveFolder() {
    const std::string word = SaveFolderWord();
    if (word.empty() || Qel_fsize(1, word.c_str()) == -2) return;
    char* folder = Qel_ResolvePath(word.c_str(), 1);
    if (folder) Qel_MakeDir(folder, 0);
    Qel_StrFree(folder);
}

// The slot the new game goes to. Below the ring it is the slot itself; the
// ring closes up its games from its first slot and takes the new one after
// them, dropping the oldest when all three are there. 0 when a move failed.
bool ChooseTarget(int32_t slot, int32_t* target) {
    *target = slot;
    if (slot < P_SAVE_RING_FIRST) return true;
    int32_t next = P_SAVE_RING_FIRST;
    for (int32_t s = P_SAVE_RING_FIRST; s < P_SAVE_RING_FIRST + P_SAVE_RING_SIZE; ++s) {
        if (!SlotExists(s)) continue;
        if (s != next && !Qel_RenameFile(SlotName(s).c_str(), SlotName(next).c_str(), 1)) return false;
        ++next;
    }
    if (next == P_SAVE_RING_FIRST + P_SAVE_RING_SIZE) {
        // Each move replaces the one below, so the oldest goes with the first.
        for (int32_t s = P_SAVE_RING_FIRST + 1; s < P_SAVE_RING_FIRST + P_SAVE_RING_SIZE; ++s)
            if (!Qel_RenameFile(SlotName(s).c_str(), SlotName(s - 1).c_str(), 1)) return false;
        next = P_SAVE_RING_FIRST + P_SAVE_RING_SIZE - 1;
    }
    *target = next;
    return true;
}

// Writes everything but the closing; false after the failing section's line.
bool WriteSave(QelFile* file, int32_t slot, const char* name1, const char* name2, uint32_t value) {
    const ProgramState* ps = g_ProgramState;
    const SE_Context* ctx = g_SEContext;
    const SystemState* sys = g_SystemState;
    const char* story = ps && ps->storyName ? ps->storyName : ctx && ctx->storyName ? ctx->storyName : "";

    Writer w{file};
    w.Cookie(kKsa);
    w.Text(name1);
    w.Text(name2);
    w.Text(story);
    w.Word(ctx ? ctx->compileTime : 0);
    w.Word(value);
    w.Word(ps ? static_cast<uint32_t>(ps->startMode) : 0);
    w.Word(ps ? static_cast<uint32_t>(ps->startScene) : 0);
    w.Cookie(kSysb);
    w.Word(kSystemWords);
    const int32_t words[kSystemWords] = {sys ? sys->gameFrameDelta : 0, sys ? sys->gameClock : 0,
                                         sys ? sys->realClock : 0,      sys ? sys->gameTimeScale : 0x10000,
                                         sys ? sys->languageId : 0,     g_SysStandIn.dialogWord};
    for (int32_t v : words) w.Word(static_cast<uint32_t>(v));
    if (!w.ok) {
        Qel_ErrPrintf("P_Save(%d,%s): writing the header failed\n", slot, name1);
        return false;
    }
    if (!Timer_SaveGame(file, g_TimerBase)) return false;

    auto section = [&](bool ok, const char* line) {
        if (!ok) Qel_ErrPrintf(line, slot, name1);
        return ok;
    };
    if (!section(SB_SaveGame(file), "P_Save(%d,%s) SE_SaveGame failed\n")) return false;
    if (!section(B3D_SaveGame(file), "P_Save(%d,%s) B3D_SaveGame failed\n")) return false;
    if (!section(MOV_SaveGame(file), "P_Save(%d, %s) MOV_SaveGame failed\n")) return false;
    if (!section(GS_SaveGame(file), "P_Save(%d,%s) GS_SaveGame() failed!\n")) return false;
    if (!section(SA_SaveSectors(file), "P_Save(%d,%s) SA_Save() failed!\n")) return false;
    // A half-written cockpit or sound section would make the game unreadable.
    if (g_CockpitSystem && !section(ID_Save(file), "P_Save(%d,%s) ID_Save() failed!\n")) return false;
    if (g_SfxState) {
        w.Cookie(kFix);
        if (!section(w.ok && SFX_SaveGame(file), "P_Save(%d,%s) SFX_SaveGame() failed!\n")) return false;
    }
    w.Cookie(kEnd);
    return section(w.ok, "P_Save(%d,%s): writing the end failed\n");
}

bool Fail(const char* line) {
    Qel_ErrPrintf("%s", line);
    return false;
}

// Reads the whole stream into the program; false after the failure's line.
bool LoadAll(QelFile* file) {
    ProgramState* ps = g_ProgramState;
    SystemState* sys = g_SystemState;
    std::string name1, name2, story;
    uint32_t n = 0;
    if (!ReadCookie(file, kKsa)) return Fail("P_Load: Wrong KSA3 cookie\n");
    if (!ReadText(file, kNameLimit, &name1, &n)) {
        Qel_ErrPrintf("P_Load() Invalid gamenamelen %d\n", static_cast<int>(n));
        return false;
    }
    if (!ReadText(file, kNameLimit, &name2, &n)) {
        Qel_ErrPrintf("P_Load() Invalid gamename2len %d\n", static_cast<int>(n));
        return false;
    }
    if (!ReadText(file, kStoryLimit, &story, &n)) {
        Qel_ErrPrintf("P_Load() Invalid storynamelen %d\n", static_cast<int>(n));
        return false;
    }
    if (!StoryNameStaysInside(story)) {
        Qel_ErrPrintf("P_Load() Story name %s leaves the game folder\n", story.c_str());
        return false;
    }
    P_SetStoryName(story.c_str());

    uint32_t stamp = 0, value = 0, mode = 0, scene = 0;
    if (!ReadWord(file, &stamp) || !ReadWord(file, &value) || !ReadWord(file, &mode) || !ReadWord(file, &scene))
        return Fail("P_Load: Wrong SYSB cookie\n");
    if (ps) {
        ps->startMode = static_cast<int32_t>(mode);
        ps->startScene = static_cast<int32_t>(scene);
    }

    if (!ReadCookie(file, kSysb)) return Fail("P_Load: Wrong SYSB cookie\n");
    uint32_t count = 0;
    if (!ReadWord(file, &count) || count < 1 || count > kSystemWords) {
        Qel_ErrPrintf("P_Load: Unreasonable SystemSave length (%d)\n", static_cast<int>(count));
        return false;
    }
    uint32_t words[kSystemWords] = {};
    for (uint32_t i = 0; i < count; ++i)
        if (!ReadWord(file, &words[i])) return Fail("P_Load: Wrong TIME cookie\n");
    // The language and the start dialog's word stay this program's own.
    if (sys) {
        sys->gameFrameDelta = static_cast<int32_t>(words[0]);
        if (count > 1) sys->gameClock = FoldClock(words[1]);
        if (count > 2) sys->realClock = FoldClock(words[2]);
        if (count > 3) sys->gameTimeScale = static_cast<int32_t>(words[3]);
    }

    if (!Timer_LoadGame(file, g_TimerBase)) return false;
    if (!SB_LoadGame(file)) return Fail("P_Load() SE_LoadGame failed\n");
    // The running game's cockpits go before the scene section comes back:
    // they free their scenes by id, and those ids may name the saved ones.
    INS_FreeCockpitSystem();
    if (!B3D_LoadGame(file)) return Fail("P_Load() B3D_LoadGame failed\n");
    B3D_CheckSavedInsts();
    if (!MOV_LoadGame(file)) return Fail("P_Load() MOV_LoadGame() failed!\n");
    if (!GS_LoadGame(file)) return Fail("P_Load() GS_LoadGame() failed!\n");
    if (!SA_LoadSectors(file)) return Fail("P_Load() SA_Load() failed!\n");
    // The run gets a new cockpit system whether or not the save holds one.
    INS_NewCockpitSystem();

    // Games saved without a cockpit system have no cockpit section: the next
    // cookie tells.
    char cookie[4];
    if (Qel_fread(file, 1, 4, cookie) != 4) return Fail("P_Load: Wrong /KSA cookie\n");
    if (std::memcmp(cookie, kCockpit, 4) == 0) {
        if (!g_CockpitSystem || Qel_fseek(file, -4, 1) != 0 || !ID_Load(file))
            return Fail("P_Load() ID_Load() failed!\n");
        if (Qel_fread(file, 1, 4, cookie) != 4) return Fail("P_Load: Wrong /KSA cookie\n");
    }
    if (std::memcmp(cookie, kFix, 4) == 0) {
        if (!SFX_LoadGame(file)) return Fail("P_Load() SFX_LoadGame() failed!\n");
        if (Qel_fread(file, 1, 4, cookie) != 4) return Fail("P_Load: Wrong /KSA cookie\n");
    }
    if (std::memcmp(cookie, kEnd, 4) != 0) return Fail("P_Load: Wrong /KSA cookie\n");
    return true;
}

}  // namespace

void P_SaveFileName(int32_t slot, char* out, size_t size) {
    const AppDescriptor* app = g_SystemState ? g_SystemState->app : nullptr;
    const char* templ = app && app->saveTemplate ? app->saveTemplate : "save\\Qel%02d.sav";
    std::snprintf(out, size, templ, static_cast<int>(slot));
}

int P_Save(int32_t slot, const char* name1, const char* name2, uint32_t value) {
    if (!name1) name1 = "";
    if (!name2) name2 = "";
    MOV_StopPlayingMovies();
    EO_FreeExplosions();
    EO_FreeObjectEffects();
    B3D_AgeBodies();
    EnsureSaveFolder();

    const std::string temp = SlotName(P_SAVE_TEMP_SLOT);
    QelFile* file = Qel_fcopen(temp.c_str(), "wb", 1);
    if (!file) {
        Qel_ErrPrintf("P_Save(%d,%s): opening %s failed\n", slot, name1, temp.c_str());
        return 0;
    }
    bool ok = WriteSave(file, slot, name1, name2, value);
    // The stream's last bytes reach the file only at the close.
    if (Qel_fclose(file) != 0 && ok) {
        Qel_ErrPrintf("P_Save(%d,%s): writing %s failed\n", slot, name1, temp.c_str());
        ok = false;
    }
    if (ok && !Qel_SyncFile(temp.c_str(), 1)) ok = false;
    int32_t target = slot;
    if (ok) ok = ChooseTarget(slot, &target);
    // One rename over the target: the slot holds the old game or the new one, never neither.
    if (ok && !Qel_RenameFile(temp.c_str(), SlotName(target).c_str(), 1)) ok = false;
    if (!ok) {
        Qel_RemoveFile(temp.c_str(), 1);
        return 0;
    }
    S_GetTimeDelta();
    S_GetRealTimeDelta();
    return 1;
}

int P_LoadFromStream(QelFile* file) {
    if (!LoadAll(file)) {
        if (g_TimerBase) Timer_ClearAll();
        return 0;
    }
    B3D_FreeLoadInsts();
    S_GetTimeDelta();
    S_GetRealTimeDelta();
    return 1;
}

int P_TryLoad(int32_t slot) {
    MOV_StopPlayingMovies();
    const std::string name = SlotName(slot);
    QelFile* file = Qel_fcopen(name.c_str(), "rb", 1);
    if (!file) {
        Qel_ErrPrintf("P_Load: opening %s failed\n", name.c_str());
        Qel_LogFileFailure();
        if (g_TimerBase) Timer_ClearAll();
        return 0;
    }
    const int ok = P_LoadFromStream(file);
    Qel_fclose(file);
    return ok;
}

void P_Load(int32_t slot) {
    if (P_TryLoad(slot)) return;
    P_Exit(29);
}

int P_ReadSaveHeader(ScriptValue* out) {
    SV_Release(out);
    if (!SV_ArrayAlloc(out, P_SAVE_LIST_SLOTS)) {
        SV_AssignInt(out, 0);
        return 1;
    }
    for (int32_t slot = 0; slot < P_SAVE_LIST_SLOTS; ++slot) {
        SV_ArrayWriteInt(out, slot, 0);
        const std::string name = SlotName(slot);
        if (Qel_fsize(1, name.c_str()) < 0) continue;
        QelFile* file = Qel_fcopen(name.c_str(), "rb", 1);
        if (!file) continue;
        std::string name1, name2, story;
        uint32_t n = 0, stamp = 0, value = 0;
        const bool ok = ReadCookie(file, kKsa) && ReadText(file, kListNameLimit, &name1, &n) &&
                        ReadText(file, kListNameLimit, &name2, &n) && ReadText(file, kListStoryLimit, &story, &n) &&
                        ReadWord(file, &stamp) && ReadWord(file, &value);
        Qel_fclose(file);
        if (!ok) continue;
        ScriptValue entry{};
        if (!SV_ArrayAlloc(&entry, 5)) continue;
        SV_ArrayWriteDString(&entry, 0, name1.c_str(), static_cast<int32_t>(name1.size()));
        SV_ArrayWriteDString(&entry, 1, name2.c_str(), static_cast<int32_t>(name2.size()));
        SV_ArrayWriteInt(&entry, 2, static_cast<int32_t>(value));
        SV_ArrayWriteInt(&entry, 3, static_cast<int32_t>(stamp));
        SV_ArrayWriteInt(&entry, 4, static_cast<int32_t>(Qel_ftime(name.c_str(), 1)));
        SV_ArrayWrite(out, slot, &entry);
        SV_Release(&entry);
    }
    return 1;
}
