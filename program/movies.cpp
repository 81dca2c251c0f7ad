#include "program/movies.h"

#include <cstdlib>
#include <cstring>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/markup.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texanim.h"
#include "base/texcache.h"
#include "program/gamesound.h"
#include "base/standin_calls.h"
#include "script/builtins_args.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "system/window.h"

int32_t g_MovieModule = 0;
MovState* g_MovState = nullptr;
MovStreamLink g_MovStreamLink = {S_OpenMovie,           S_FreeMovie,        S_MovieStatePlay,   S_MovieStateStop,
                                 S_SetCurrentMovieTime, S_MovieSetStopTime, S_MovieGetPosition, S_RenderMovieFrame,
                                 S_MovieSetVolume,      S_MovieSetRate};

namespace {

constexpr uint32_t kMem = Int_MemTag(MOVIE_MEM_TAG);
constexpr uint32_t kDebug = 0x800;

const char* const s_names[] = {
    "MOV_LoadMovie",     "MOV_PlayMovie",      "MOV_FreeMovie",      "MOV_StopMovie",      "MOV_ConnectMovieToTexture",
    "MOV_PlayMovieFrom", "MOV_PlayMovieVoice", "MOV_SetRateMovie",   "MOV_SetVolumeMovie", "MOV_LoadVoiceInfo",
    "MOV_FreeVoiceInfo", "MOV_GetVoiceStart",  "MOV_GetVoiceLength", "MOV_GetVoiceStream", nullptr};

bool HasTable() { return g_MovState && g_MovState->table; }
bool LanguageInRange(int32_t language) { return language >= 0 && language < MOV_LANGUAGES; }

void Reply(int32_t module, int32_t handle, int32_t value) {
    if (module) SE_CallerReturnInt(module, value, static_cast<uint32_t>(handle));
}

// The movie's waiting caller told its answer, once: afterwards nobody waits.
void AnswerWaiting(MovMovie* m, int32_t value) {
    int32_t module = m->module, handle = m->handle;
    m->module = m->handle = 0;
    Reply(module, handle, value);
}

EBM* TextureBitmap(int32_t texture) {
    if (!TC_TextureTable || texture < 0 || texture >= g_TCNumberedCount + g_TCNamedCount) return nullptr;
    return TC_TextureTable[texture].bitmap;
}

int32_t CurrentLanguage() {
    if (g_SfxState) return g_SfxState->language;
    return g_SystemState ? g_SystemState->languageId : 44;
}

void Unlink(MovMovie* m) {
    if (m->prev) m->prev->next = m->next;
    else g_MovState->first = m->next;
    if (m->next) m->next->prev = m->prev;
    else g_MovState->last = m->prev;
    m->next = m->prev = nullptr;
}

// The texture hook of the base layer: movies played into textures.
int HookIsLoaded(int movie) { return MOV_FindMovie(movie) ? 1 : 0; }
int HookOpen(int movie) { return MOV_OpenMovieStream(movie) ? 1 : 0; }
int HookConnect(int movie, int texture) { return MOV_ConnectMovieToTexture(movie, texture); }
int HookDisconnect(int movie, int texture) { return MOV_DisconnectMovieFromTexture(movie, texture); }
void HookPlay(int movie, int a, int b, int c, int d, int e, int f) {
    MOV_PlayMovieFrom(0, 0, movie, a, b, c, d, e, f, 0);
}
void HookStop(int movie) { MOV_StopMovie(0, 0, movie); }
uint32_t HookState(int movie) {
    MovMovie* m = MOV_FindMovie(movie);
    return m ? m->flags : 0;
}

}  // namespace

// ---------------------------------------------------------------- start and end

MovieTable* MOV_Init() {
    StandIn_Record("MOV_Init");
    if (!g_MovState) g_MovState = new MovState{};
    MovieTable* table = S_InitMovies();
    g_MovState->table = table;
    if (g_SEContext)
        g_MovieModule = SB_RegisterEngineModule(g_SEContext, MOV_SysCall, s_names, nullptr, nullptr, nullptr);
    g_MovState->moduleNumber = g_MovieModule;
    S_WindowLinks.stopPlayingMovies = MOV_StopPlayingMovies;
    g_TCMovieCalls = {HookIsLoaded, HookOpen, HookConnect, HookDisconnect, HookPlay, HookStop, HookState};
    return table;
}

MovieTable* MOV_ReInit() {
    if (!g_MovState) g_MovState = new MovState{};
    g_MovState->table = S_InitMovies();
    return g_MovState->table;
}

void MOV_Exit() {
    StandIn_Record("MOV_Exit");
    if (g_MovState) {
        while (g_MovState->first) MOV_FreeMovie(g_MovState->first);
        delete g_MovState;
        g_MovState = nullptr;
    }
    S_FreeMovies();
    if (S_WindowLinks.stopPlayingMovies == MOV_StopPlayingMovies) S_WindowLinks.stopPlayingMovies = nullptr;
    if (g_TCMovieCalls.isLoaded == HookIsLoaded) g_TCMovieCalls = {};
}

void MOV_FreeAllMovies() {
    StandIn_Record("MOV_FreeAllMovies");
    while (g_MovState && g_MovState->first) MOV_FreeMovie(g_MovState->first);
}

void MOV_FreeVoices() {
    StandIn_Record("MOV_FreeVoices");
    if (!g_MovState) return;
    int pages = 0, voices = 0;
    for (auto& [language, table] : g_MovState->languages)
        for (auto& [page, p] : table) {
            ++pages;
            voices += static_cast<int>(p.lines.size());
        }
    g_MovState->languages.clear();
    g_MovState->voiceFiles.clear();
    Qel_DPrintf(kDebug, "MOV_FreeVoices() %d pages with total %d voices entries freed.\n", pages, voices);
}

// ---------------------------------------------------------------- movies

MovMovie* MOV_FindMovie(int32_t id) {
    if (!g_MovState) return nullptr;
    for (MovMovie* m = g_MovState->first; m; m = m->next)
        if (m->id == id) return m;
    return nullptr;
}

MovMovie* MOV_OpenMovieStream(int32_t id, uint32_t flags) {
    if (!HasTable()) return nullptr;
    auto* m = Int_AllocRecord<MovMovie>(kMem);
    if (!m) return nullptr;
    if (flags == 0 && (id == 1 || id == 3)) {
        m->flags |= MOV_CONNECTED;
        m->textureId = 66;
    } else if (flags == 0 && id == 2) {
        m->flags |= MOV_CONNECTED;
        m->textureId = 61;
    }
    m->stream.number = static_cast<uint32_t>(id);
    m->stream.record = g_MovStreamLink.open(static_cast<uint32_t>(id), flags);
    if (!m->stream.record) {
        Qel_ErrPrintf("Error opening movie stream: %d\n", id);
        Int_FreeRecord(m, kMem);
        return nullptr;
    }
    m->flags |= m->stream.record->flags;
    m->flags &= ~MOV_PLAYING;
    m->id = id;
    m->prev = g_MovState->last;
    if (m->prev) m->prev->next = m;
    else g_MovState->first = m;
    g_MovState->last = m;
    if (g_SystemState && (m->flags & (MOV_VOICE | MOV_SOUNDTRACK)))
        g_MovStreamLink.setVolume(
            static_cast<uint32_t>((m->flags & MOV_VOICE) ? g_SystemState->voiceVolume : g_SystemState->modVolume),
            &m->stream);
    if (m->flags & MOV_CONNECTED) m->bitmap = TextureBitmap(m->textureId);
    return m;
}

void MOV_FreeMovie(MovMovie* m) {
    if (!m || !g_MovState) return;
    Unlink(m);
    AnswerWaiting(m, 1);
    if (m->stream.record) g_MovStreamLink.free(m->stream.record);
    Int_FreeRecord(m, kMem);
}

int MOV_LoadMovie(int32_t module, int32_t handle, int32_t id, uint32_t flags) {
    Qel_DPrintf(kDebug, "loading movie %d, %08x, reply = %d (eng=%d / call=%d)\n", id, flags, handle, module, 0);
    if (!MOV_FindMovie(id) && !MOV_OpenMovieStream(id, flags)) {
        Qel_ErrPrintf("Failed loading movie %d\n", id);
        Reply(module, handle, 0);
        return 0;
    }
    Qel_DPrintf(kDebug, "movloadmovie success: reply=%d (%d / %d)\n", handle, module, 0);
    Reply(module, handle, 1);
    return 1;
}

namespace {

// Seeks, sets the stop time and runs; on failure the movie is freed and the
// caller answered 0. On success the new caller takes over from the old one.
int StartRange(MovMovie* m, int32_t module, int32_t handle, int32_t from, int32_t to, int loop, const char* failText) {
    int ok = g_MovStreamLink.seek(&m->stream, from);
    if (ok && to > 0) g_MovStreamLink.setStopTime(&m->stream, to);
    if (ok) ok = g_MovStreamLink.play(&m->stream);
    if (!ok) {
        Qel_ErrPrintf(failText, m->id);
        MOV_FreeMovie(m);
        Reply(module, handle, 0);
        return 0;
    }
    m->start = from;
    m->end = to;
    m->flags |= MOV_PLAYING;
    if (loop) m->flags |= MOV_LOOP;
    else m->flags &= ~MOV_LOOP;
    if (m->module) {
        Qel_DPrintf(kDebug, "MOV_PlayMovieFrom(%d) found old movie with same id, replying to story.\n", m->id);
        AnswerWaiting(m, 1);
    }
    m->module = module;
    m->handle = handle;
    return 1;
}

// The movie, opened with default flags when it is not loaded.
MovMovie* FindOrOpen(int32_t id, bool voice) {
    MovMovie* m = MOV_FindMovie(id);
    if (!m) {
        if (voice) Qel_DPrintf(0, "Movie automatically loaded with default flags!\n");
        else Qel_DPrintf(0, "MOV_PlayMovieFrom(%d) Movie automatically loaded with default flags!\n", id);
        MOV_OpenMovieStream(id, 0);
        m = MOV_FindMovie(id);
    }
    return m;
}

}  // namespace

int MOV_PlayMovieFrom(int32_t module, int32_t handle, int32_t id, int fromMin, int fromSec, int fromMs, int toMin,
                      int toSec, int toMs, int loop) {
    Qel_DPrintf(kDebug, "play movie %d\n", id);
    MovMovie* m = FindOrOpen(id, false);
    if (!m) {
        Qel_ErrPrintf("Failed loading movie %d\n", id);
        Reply(module, handle, 0);
        return 0;
    }
    int32_t from = (fromMin * 60 + fromSec) * 1000 + fromMs;
    int32_t to = (toMin * 60 + toSec) * 1000 + toMs;
    Qel_DPrintf(kDebug, "started playing movie %d from %d:%02d.%03d to %d:%02d.%03d\n", id, fromMin, fromSec, fromMs,
                toMin, toSec, toMs);
    Qel_DPrintf(kDebug, "Qel_MovieStatePlayFrom(%d, %d-%d, %d)\n", id, from, to, loop);
    return StartRange(m, module, handle, from, to, loop, "MOV_PlayMovieFrom(%d) Qel_MovieStatePlayFrom failed!\n");
}

int MOV_PlayMovieVoice(int32_t module, int32_t handle, int32_t id, int32_t language, int32_t page, int32_t voiceId) {
    MOV_GetVoiceStream(language, page);
    int32_t start = MOV_GetVoiceStart(language, page, voiceId);
    int32_t length = MOV_GetVoiceLength(language, page, voiceId);
    int32_t end = start < 0 || length < 0 ? -1 : start + length;
    if (start < 0) {
        Qel_ErrPrintf("Failed loading move voice %d %d %d\n", language, page, voiceId);
        Reply(module, handle, 0);
        return 0;
    }
    Qel_DPrintf(kDebug, "MOV_PlayMovieVoice(%d,%d-%d-%d)\n", id, language, page, voiceId);
    MovMovie* m = FindOrOpen(id, true);
    if (!m) {
        Qel_ErrPrintf("Failed loading movie %d\n", id);
        Reply(module, handle, 0);
        return 0;
    }
    m->voiceLanguage = language;
    m->voicePage = page;
    m->voiceId = voiceId;
    Qel_DPrintf(kDebug, "started playing movie %d from %d to %d\n", id, start, end);
    return StartRange(m, module, handle, start, end, 0, "Qel_MovieStatePlayFrom failed:%d\n");
}

int MOV_StopMovie(int32_t module, int32_t handle, int32_t id) {
    MovMovie* m = MOV_FindMovie(id);
    if (!m) {
        Qel_ErrPrintf("Failed stoping movie %d\n", id);
        Reply(module, handle, 0);
        return 0;
    }
    g_MovStreamLink.stop(&m->stream);
    m->flags &= ~MOV_PLAYING;
    AnswerWaiting(m, 1);
    Reply(module, handle, 1);
    return 1;
}

void MOV_StopPlayingMovies() {
    StandIn_Record("MOV_StopPlayingMovies");
    if (!g_MovState) return;
    for (MovMovie* m = g_MovState->first; m; m = m->next) {
        if (!(m->flags & MOV_PLAYING)) continue;
        g_MovStreamLink.stop(&m->stream);
        m->flags &= ~MOV_PLAYING;
        AnswerWaiting(m, 1);
    }
}

int MOV_ConnectMovieToTexture(int32_t id, int32_t texture) {
    MovMovie* m = MOV_FindMovie(id);
    if (!m) {
        Qel_ErrPrintf("Failed connecting movie to texture%d\n", texture);
        return 0;
    }
    m->flags |= MOV_CONNECTED;
    m->textureId = texture;
    m->bitmap = TextureBitmap(texture);
    Qel_DPrintf(kDebug, "Connected texture %d to movie %d\n", texture, id);
    return 1;
}

int MOV_DisconnectMovieFromTexture(int32_t id, int32_t texture) {
    MovMovie* m = MOV_FindMovie(id);
    if (!m || !(m->flags & MOV_CONNECTED) || m->textureId != texture) return 0;
    m->flags &= ~MOV_CONNECTED;
    m->textureId = 0;
    m->bitmap = nullptr;
    return 1;
}

int MOV_IsPlaying(int32_t id) {
    MovMovie* m = MOV_FindMovie(id);
    return m && (m->flags & MOV_PLAYING) ? 1 : 0;
}

int MOV_IsConnectedTo(int32_t id, int32_t texture) {
    MovMovie* m = MOV_FindMovie(id);
    return m && (m->flags & MOV_CONNECTED) && m->textureId == texture ? 1 : 0;
}

void MOV_ApplyVolume(uint32_t flagMask, int32_t volume) {
    if (!g_MovState) return;
    for (MovMovie* m = g_MovState->first; m; m = m->next)
        if (m->flags & flagMask) g_MovStreamLink.setVolume(static_cast<uint32_t>(volume), &m->stream);
}

void MOV_CheckFinished() {
    StandIn_Record("MOV_CheckFinished");
    if (!g_MovState) return;
    for (MovMovie* m = g_MovState->first; m;) {
        MovMovie* next = m->next;
        if (m->flags & MOV_PLAYING) {
            if ((m->flags & MOV_CONNECTED) && TC_TextureTable && m->textureId >= 0 &&
                m->textureId < g_TCNumberedCount + g_TCNamedCount)
                m->bitmap = TextureBitmap(m->textureId);
            uint16_t r = g_MovStreamLink.render(&m->stream, m->bitmap);
            if (r == 1) {
                int32_t ms = 0;
                g_MovStreamLink.position(&m->stream, &ms);
            } else if (r == 2) {
                if (m->flags & MOV_LOOP) {
                    g_MovStreamLink.seek(&m->stream, m->start);
                    if (m->end > 0) g_MovStreamLink.setStopTime(&m->stream, m->end);
                    g_MovStreamLink.play(&m->stream);
                } else {
                    if (m->id) Qel_DPrintf(kDebug, "Finished playing movie: %d\n", m->id);
                    m->flags &= ~MOV_PLAYING;
                    AnswerWaiting(m, 1);
                }
            } else {
                if (m->id) Qel_ErrPrintf("FAILED playing movie: %d\n", m->id);
                m->flags &= ~MOV_PLAYING;
                AnswerWaiting(m, 1);
                MOV_FreeMovie(m);
            }
        }
        m = next;
    }
}

// ---------------------------------------------------------------- voice timing

namespace {

const char* Attribute(const XmlNode* node, const char* name) {
    for (const XmlListItem* a = node->element ? node->element->attributes.head : nullptr; a; a = a->next)
        if (a->name && std::strcmp(a->name, name) == 0) return a->value;
    return nullptr;
}
int32_t IntAttribute(const XmlNode* node, const char* name) {
    const char* v = Attribute(node, name);
    return v ? static_cast<int32_t>(std::strtol(v, nullptr, 10)) : 0;
}
template <typename F>
void ForElements(const XmlNode* node, F f) {
    for (const XmlNode* c = node->element ? node->element->children.head : nullptr; c; c = c->next)
        if (c->kind == XML_ELEMENT) f(c);
}

const VoiceEntry* FindLine(int32_t language, int32_t page, int32_t voiceId) {
    if (!g_MovState || !LanguageInRange(language)) return nullptr;
    auto l = g_MovState->languages.find(language);
    if (l == g_MovState->languages.end()) return nullptr;
    auto p = l->second.find(page);
    if (p == l->second.end()) return nullptr;
    auto v = p->second.lines.find(voiceId + 1);
    return v == p->second.lines.end() ? nullptr : &v->second;
}

}  // namespace

int MOV_LoadVoices(int32_t language) {
    if (!g_MovState || !LanguageInRange(language)) return 0;
    const char* tmpl = g_SystemState && g_SystemState->app && g_SystemState->app->movieTemplate
                           ? g_SystemState->app->movieTemplate
                           : "mov\\%s";
    char base[16];
    std::snprintf(base, sizeof base, "%05d.xml", language);
    char* name = Qel_Format(nullptr, tmpl, base);
    void* text = name ? Qel_LoadFile(name) : nullptr;
    uint32_t size = text ? g_QelLastFileSize : 0;
    Qel_StrFree(name);
    if (!text) {
        Qel_ErrPrintf("MOV_LoadVoices(%d) can't open file\n", language);
        return 0;
    }
    XmlNode* tree = Qel_XmlParse(static_cast<const char*>(text), size);
    Int_FreeMem(text, size, 0);
    if (!tree) {
        Qel_ErrPrintf("MOV_LoadVoices(%d) XML parse error\n", language);
        return 0;
    }
    const XmlNode* top = nullptr;
    ForElements(tree, [&](const XmlNode* n) {
        if (!top) top = n;
    });
    if (top && top->text && std::strcmp(top->text, "ROOT") == 0) {
        Qel_DPrintf(kDebug, "LoadVoices(%d)\n", language);
        ForElements(top, [&](const XmlNode* lang) {
            int32_t id = IntAttribute(lang, "id");
            Qel_DPrintf(kDebug, "MOV_LoadVoicesLanguage() language=%d\n", id);
            if (id < 1 || !LanguageInRange(id)) return;
            auto& pages = g_MovState->languages[id];
            ForElements(lang, [&](const XmlNode* pageNode) {
                int32_t pageId = IntAttribute(pageNode, "id");
                Qel_DPrintf(kDebug, "LoadVoicesPage()  pageid=%d\n", pageId);
                VoicePage& page = pages[pageId];
                page.stream = IntAttribute(pageNode, "stream");
                ForElements(pageNode, [&](const XmlNode* line) {
                    int32_t tid = IntAttribute(line, "id");
                    VoiceEntry e{IntAttribute(line, "s"), IntAttribute(line, "l")};
                    Qel_DPrintf(kDebug, "LoadVoicesLanguage()   tid=%d s=%d l=%d\n", tid, e.start, e.length);
                    page.lines[tid + 1] = e;
                });
            });
        });
    }
    Qel_XmlFreeNode(tree);
    std::vector<int32_t>& files = g_MovState->voiceFiles;
    bool known = false;
    for (int32_t f : files) known = known || f == language;
    if (!known) files.push_back(language);
    return 1;
}

int32_t MOV_GetVoiceStart(int32_t language, int32_t page, int32_t voiceId) {
    const VoiceEntry* e = FindLine(language, page, voiceId);
    if (!e) {
        Qel_DPrintf(0, "MOV_GetVoiceStart(%d,%d,%d) Can't find voice info\n", language, page, voiceId);
        return -1;
    }
    return e->start;
}

int32_t MOV_GetVoiceLength(int32_t language, int32_t page, int32_t voiceId) {
    const VoiceEntry* e = FindLine(language, page, voiceId);
    if (!e) {
        Qel_DPrintf(0, "MOV_GetVoiceLength(%d,%d,%d) Can't find voice info\n", language, page, voiceId);
        return -1;
    }
    return e->length;
}

int32_t MOV_GetVoiceStream(int32_t language, int32_t page) {
    if (g_MovState && LanguageInRange(language)) {
        auto l = g_MovState->languages.find(language);
        if (l != g_MovState->languages.end()) {
            auto p = l->second.find(page);
            if (p != l->second.end()) return p->second.stream;
        }
    }
    Qel_DPrintf(0, "MOV_GetVoiceStream(%d,%d) Can't find voice info\n", language, page);
    return -1;
}

// ---------------------------------------------------------------- save section

namespace {

bool PutWord(QelFile* f, uint32_t v) {
    uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                    static_cast<uint8_t>(v)};
    return Qel_fwriteBlock(f, 4, 1, b) == 1;
}
bool GetWord(QelFile* f, uint32_t* v) {
    uint8_t b[4];
    if (Qel_fread(f, 1, 4, b) != 4) return false;
    *v =
        static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 | static_cast<uint32_t>(b[2]) << 8 | b[3];
    return true;
}
bool GetTag(QelFile* f, const char* tag) {
    char b[4];
    return Qel_fread(f, 1, 4, b) == 4 && std::memcmp(b, tag, 4) == 0;
}

}  // namespace

int MOV_SaveGame(QelFile* file) {
    // Every write is checked: a section cut short must fail the save.
    bool ok = Qel_fwriteBlock(file, 1, 4, "MOVI") == 4;
    // Without a movie table the section is empty, so a machine without movies
    // still saves.
    uint32_t n = 0;
    if (HasTable())
        for (MovMovie* m = g_MovState->first; m; m = m->next) ++n;
    Qel_DPrintf(kDebug, "MOV_SaveGame() %d movies\n", static_cast<int>(n));
    ok = ok && PutWord(file, n);
    if (n)
        for (MovMovie* m = g_MovState->first; ok && m; m = m->next) {
            const int32_t words[10] = {
                m->id,        m->handle,        m->module,    m->start,  m->end, static_cast<int32_t>(m->flags),
                m->textureId, m->voiceLanguage, m->voicePage, m->voiceId};
            for (int32_t w : words) ok = ok && PutWord(file, static_cast<uint32_t>(w));
            Qel_DPrintf(kDebug, "MOV_SaveGame() saved movie %d\n", m->id);
        }
    uint32_t files = HasTable() ? static_cast<uint32_t>(g_MovState->voiceFiles.size()) : 0;
    Qel_DPrintf(kDebug, "MOV_SaveGame() %d voice files\n", static_cast<int>(files));
    ok = ok && PutWord(file, files);
    for (uint32_t j = 0; ok && j < files; ++j) {
        ok = PutWord(file, static_cast<uint32_t>(g_MovState->voiceFiles[j]));
        Qel_DPrintf(kDebug, "MOV_SaveGame() saved voice file %d\n", g_MovState->voiceFiles[j]);
    }
    ok = ok && Qel_fwriteBlock(file, 1, 4, "/MOV") == 4;
    Qel_DPrintf(kDebug, "MOV_SaveGame() finished\n");
    return ok ? 1 : 0;
}

int MOV_LoadGame(QelFile* file) {
    if (!GetTag(file, "MOVI")) {
        Qel_ErrPrintf("MOV_LoadGame() Wrong MOVA cookie\n");
        return 0;
    }
    uint32_t n = 0;
    if (!GetWord(file, &n)) return 0;
    Qel_DPrintf(kDebug, "MOV_LoadGame() %d movies\n", static_cast<int>(n));
    const int32_t language = CurrentLanguage();
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t w[10];
        for (uint32_t& x : w)
            if (!GetWord(file, &x)) return 0;
        int32_t id = static_cast<int32_t>(w[0]);
        Qel_DPrintf(kDebug, "MOV_LoadGame() opening movie %d\n", id);
        if (!HasTable()) continue;
        if (id >= 101 && id <= 199) id = 100 + language;
        MovMovie* m = MOV_FindMovie(id);
        if (!m) m = MOV_OpenMovieStream(id, w[5] & ~MOV_PLAYING);
        if (m && w[6]) MOV_ConnectMovieToTexture(id, static_cast<int32_t>(w[6]));
    }
    uint32_t files = 0;
    if (!GetWord(file, &files)) return 0;
    Qel_DPrintf(kDebug, "MOV_LoadGame() %d voice files\n", static_cast<int>(files));
    for (uint32_t j = 0; j < files; ++j) {
        uint32_t saved = 0;
        if (!GetWord(file, &saved)) return 0;
        if (!HasTable()) continue;
        if (MOV_LoadVoices(language)) {
            Qel_DPrintf(kDebug, "MOV_LoadGame() loaded voice file %d\n", language);
        } else if (language == 44) {
            Qel_ErrPrintf("MOV_LoadGame() failed loading voice file %d\n", language);
        } else {
            Qel_ErrPrintf("MOV_LoadGame() Can't find voiceinfo for language %d, trying default 44!\n", language);
            if (MOV_LoadVoices(44)) Qel_DPrintf(kDebug, "MOV_LoadGame() loaded default voice file 44\n");
            else Qel_ErrPrintf("MOV_LoadGame() can't load default voiceinfo file 44!\n");
        }
    }
    if (!GetTag(file, "/MOV")) {
        Qel_ErrPrintf("MOV_LoadGame() Wrong /MOV cookie\n");
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------- engine calls

const char* const* MOV_GetCallNames() { return s_names; }

int32_t MOV_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    if (!task) return 0;
    auto arg = [&](int i) { return SE_ArgInt(args, argc, i); };
    auto now = [&](int32_t n) { return SE_AnswerInt(g_SEContext, task, n); };
    const int32_t handle = static_cast<int32_t>(task->id);
    if (call < 0 || call >= 14) {
        const char* where = SE_GetCurrentDebugAddress();
        Qel_DPrintf(0, "MOV_SysCall (%s) : Undefined System Call %d\n", where ? where : "invalid address", call);
        return now(0);
    }
    // Without a movie table every call answers 0.
    if (!HasTable()) return now(0);
    switch (call) {
        case 0:
            Qel_DPrintf(kDebug, "MOV_LoadMovie(%d,%08x)\n", arg(0), static_cast<unsigned>(arg(1)));
            MOV_LoadMovie(callerModule, handle, arg(0), static_cast<uint32_t>(arg(1)));
            return 1;
        case 1:
            Qel_DPrintf(kDebug, "MOV_PlayMovie(%d)\n", arg(0));
            MOV_PlayMovieFrom(callerModule, handle, arg(0), 0, 0, 0, -1, -1, -1, 0);
            return 1;
        case 2: {
            Qel_DPrintf(kDebug, "MOV_FreeMovie(%d)\n", arg(0));
            MovMovie* m = MOV_FindMovie(arg(0));
            if (!m) {
                Qel_ErrPrintf("Failed freeing movie %d\n", arg(0));
                Reply(callerModule, handle, 0);
                return 1;
            }
            MOV_FreeMovie(m);
            Reply(callerModule, handle, 1);
            return 1;
        }
        case 3:
            Qel_DPrintf(kDebug, "MOV_StopMovie(%d)\n", arg(0));
            MOV_StopMovie(callerModule, handle, arg(0));
            return 1;
        case 4:
            Qel_DPrintf(kDebug, "MOV_ConnectMovieToTexture (%d, %d)\n", arg(0), arg(1));
            return now(MOV_ConnectMovieToTexture(arg(0), arg(1)));
        case 5:
            Qel_DPrintf(kDebug, "MOV_PlayMovieFrom(%d, %d/%d/%d -> %d/%d/%d)\n", arg(0), arg(1), arg(2), arg(3), arg(4),
                        arg(5), arg(6));
            MOV_PlayMovieFrom(callerModule, handle, arg(0), arg(1), arg(2), arg(3), arg(4), arg(5), arg(6), 0);
            return 1;
        case 6:
            Qel_DPrintf(kDebug, "MOV_PlayMovieVoice(%d,%d,%d,%d)\n", arg(0), arg(1), arg(2), arg(3));
            MOV_PlayMovieVoice(callerModule, handle, arg(0), arg(1), arg(2), arg(3));
            return 1;
        case 7: {
            Qel_DPrintf(kDebug, "MOV_SetRateMovie(%d, %d)\n", arg(0), arg(1));
            MovMovie* m = MOV_FindMovie(arg(0));
            if (m && (m->flags & MOVIE_NO_POSITION)) {
                Qel_ErrPrintf("ERROR:Setting rate on NOPOS stream!\n");
                return now(0);
            }
            if (!m || !g_MovStreamLink.setRate(&m->stream, arg(1) / 100000.0)) {
                Qel_ErrPrintf("Failed set rate movie %d\n", arg(0));
                return now(0);
            }
            return now(1);
        }
        case 8: {
            Qel_DPrintf(kDebug, "MOV_SetVolumeMovie(%d, %d)\n", arg(0), arg(1));
            MovMovie* m = MOV_FindMovie(arg(0));
            if (!m || (m->flags & MOVIE_NO_AUDIO) ||
                !g_MovStreamLink.setVolume(static_cast<uint32_t>(arg(1)), &m->stream)) {
                Qel_ErrPrintf("Failed set volume movie %d\n", arg(0));
                return now(0);
            }
            return now(1);
        }
        case 9: return now(MOV_LoadVoices(arg(0)));
        case 10: MOV_FreeVoices(); return now(0);
        case 11: return now(MOV_GetVoiceStart(arg(0), arg(1), arg(2)));
        case 12: return now(MOV_GetVoiceLength(arg(0), arg(1), arg(2)));
        case 13: return now(MOV_GetVoiceStream(arg(0), arg(1)));
    }
    return now(0);
}
