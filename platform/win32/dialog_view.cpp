#include "platform/win32/dialog_view.h"

#include <SDL.h>
#include <dlfcn.h>
#include <epoxy/gl.h>
#include <imgui.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/d3d9/d3d9.h"
#include "platform/win32/signals.h"

namespace {

constexpr const char* kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr float kFontSize = 15.0f;

// Each open dialog that is shown has a window of its own, as on Windows: a
// nested dialog opens over its parent, whose window waits under it.
struct View {
    HWND dialog = nullptr;
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    ImGuiContext* imgui = nullptr;
    std::map<const Win32Bitmap*, GLuint> textures;
};
std::map<HWND, std::unique_ptr<View>> s_views;
int s_lastStop = 0;  // how the last dialog run ended (Win32_LastDialogStop)

// What the user did in a frame; carried out after the frame, so that a
// dialog opened by it runs frames of its own.
struct Action {
    enum Kind { None, Click, Select, Type, Cancel } kind = None;
    int id = 0;
    int index = 0;
    std::string text;
};
Action Act(Action::Kind kind, int id = 0, int index = 0, std::string text = {}) {
    return Action{kind, id, index, std::move(text)};
}

struct CurrentGL {
    SDL_Window* window = SDL_GL_GetCurrentWindow();
    SDL_GLContext context = SDL_GL_GetCurrentContext();
    ~CurrentGL() {
        if (context) SDL_GL_MakeCurrent(window, context);
    }
};

View* OpenView(HWND dialog) {
    if (auto it = s_views.find(dialog); it != s_views.end()) return it->second.get();
    const DlgTemplate* t = Win32_DialogTemplate(dialog);
    if (!t) return nullptr;
    // The GL driver stays loaded for the life of the process, shared with the
    // video device: drivers are not made to be unloaded and loaded again. The
    // back end's own GL loader opens libGL for each view and closes it again;
    // one reference of ours keeps it loaded under the other views.
    if (!D3D9_LoadDriver()) return nullptr;
    static void* const keepLoaded = dlopen("libGL.so.1", RTLD_LAZY | RTLD_GLOBAL);
    (void)keepLoaded;
    auto view = std::make_unique<View>();
    View& v = *view;
    v.dialog = dialog;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    const Uint32 shown = DlgView_Headless() ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN;
    v.window = SDL_CreateWindow(Win32_DialogCaption(dialog).c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                t->width, t->height, SDL_WINDOW_OPENGL | shown);
    if (!v.window) return nullptr;
    CurrentGL keep;
    v.context = SDL_GL_CreateContext(v.window);
    if (!v.context) {
        SDL_DestroyWindow(v.window);
        return nullptr;
    }
    SDL_GL_MakeCurrent(v.window, v.context);
    IMGUI_CHECKVERSION();
    v.imgui = ImGui::CreateContext();
    ImGui::SetCurrentContext(v.imgui);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    // DejaVu carries the umlauts and accents of every game language; Latin-1
    // and Latin Extended-A cover them.
    static const ImWchar ranges[] = {0x0020, 0x00FF, 0x0100, 0x017F, 0x2010, 0x205E, 0};
    if (!io.Fonts->AddFontFromFileTTF(kFontFile, kFontSize, nullptr, ranges)) io.Fonts->AddFontDefault();
    ImGui::StyleColorsLight();
    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowRounding = 0;
    style.FrameBorderSize = 1;
    ImGui_ImplSDL2_InitForOpenGL(v.window, v.context);
    ImGui_ImplOpenGL3_Init("#version 330 core");
    s_views[dialog] = std::move(view);
    return &v;
}

bool IsDialogWindow(Uint32 window) {
    for (const auto& [dialog, view] : s_views)
        if (SDL_GetWindowID(view->window) == window) return true;
    return false;
}

void CloseView(View& v) {
    CurrentGL keep;
    SDL_GL_MakeCurrent(v.window, v.context);
    ImGui::SetCurrentContext(v.imgui);
    for (auto& [bitmap, texture] : v.textures) glDeleteTextures(1, &texture);
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext(v.imgui);
    SDL_GL_DeleteContext(v.context);
    SDL_DestroyWindow(v.window);
    if (keep.context == v.context) keep.context = nullptr;
}

GLuint TextureOf(View& v, const Win32Bitmap* bitmap) {
    auto it = v.textures.find(bitmap);
    if (it != v.textures.end()) return it->second;
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, bitmap->width, bitmap->height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 bitmap->rgba.data());
    v.textures[bitmap] = texture;
    return texture;
}

std::string Label(const DlgControlState& c) { return c.text + "##" + std::to_string(c.id); }

void DrawControl(View& v, const DlgControlTemplate& t, const DlgControlState& c, Action* action) {
    if (!c.visible) return;
    const ImVec2 at(static_cast<float>(t.x), static_cast<float>(t.y));
    const ImVec2 size(static_cast<float>(t.width), static_cast<float>(t.height));
    ImGui::SetCursorPos(at);
    ImGui::BeginDisabled(!c.enabled);
    switch (c.kind) {
        case DlgKind::Static:
            ImGui::PushTextWrapPos(at.x + size.x);
            ImGui::TextUnformatted(c.text.c_str());
            ImGui::PopTextWrapPos();
            break;
        case DlgKind::Picture:
            if (c.image && c.image->width > 0 && c.image->height > 0) {
                ImGui::Image(reinterpret_cast<ImTextureID>(static_cast<uintptr_t>(TextureOf(v, c.image))),
                             ImVec2(static_cast<float>(c.image->width), static_cast<float>(c.image->height)));
            }
            break;
        case DlgKind::Button:
        case DlgKind::DefaultButton:
            if (ImGui::Button(Label(c).c_str(), size)) *action = Act(Action::Click, c.id);
            break;
        case DlgKind::CheckBox: {
            bool checked = c.checked;
            if (ImGui::Checkbox(Label(c).c_str(), &checked)) *action = Act(Action::Click, c.id);
            break;
        }
        case DlgKind::Radio:
            if (ImGui::RadioButton(Label(c).c_str(), c.checked)) *action = Act(Action::Click, c.id);
            break;
        case DlgKind::GroupBox: {
            ImDrawList* draw = ImGui::GetWindowDrawList();
            const ImVec2 origin = ImGui::GetWindowPos();
            const float top = origin.y + at.y + kFontSize / 2;
            draw->AddRect(ImVec2(origin.x + at.x, top), ImVec2(origin.x + at.x + size.x, origin.y + at.y + size.y),
                          ImGui::GetColorU32(ImGuiCol_Border));
            // The caption sits in a gap of the frame's top line.
            const ImVec2 label = ImGui::CalcTextSize(c.text.c_str());
            const ImVec2 gap(origin.x + at.x + 6, origin.y + at.y);
            draw->AddRectFilled(gap, ImVec2(gap.x + label.x + 4, gap.y + label.y),
                                ImGui::GetColorU32(ImGuiCol_WindowBg));
            ImGui::SetCursorPos(ImVec2(at.x + 8, at.y));
            ImGui::TextUnformatted(c.text.c_str());
            break;
        }
        case DlgKind::ComboBox: {
            ImGui::SetNextItemWidth(size.x);
            const char* preview = c.selection >= 0 ? c.items[c.selection].text.c_str() : "";
            if (ImGui::BeginCombo(("##" + std::to_string(c.id)).c_str(), preview)) {
                for (size_t i = 0; i < c.items.size(); ++i) {
                    ImGui::PushID(static_cast<int>(i));
                    if (ImGui::Selectable(c.items[i].text.c_str(), static_cast<int>(i) == c.selection))
                        *action = Act(Action::Select, c.id, static_cast<int>(i));
                    ImGui::PopID();
                }
                ImGui::EndCombo();
            }
            break;
        }
        case DlgKind::ListBox:
            if (ImGui::BeginListBox(("##" + std::to_string(c.id)).c_str(), size)) {
                for (size_t i = 0; i < c.items.size(); ++i) {
                    ImGui::PushID(static_cast<int>(i));
                    if (ImGui::Selectable(c.items[i].text.c_str(), static_cast<int>(i) == c.selection))
                        *action = Act(Action::Select, c.id, static_cast<int>(i));
                    ImGui::PopID();
                }
                ImGui::EndListBox();
            }
            break;
        case DlgKind::Edit: {
            char buffer[260];
            std::snprintf(buffer, sizeof buffer, "%s", c.text.c_str());
            ImGui::SetNextItemWidth(size.x);
            if (ImGui::InputText(("##" + std::to_string(c.id)).c_str(), buffer, sizeof buffer))
                *action = Act(Action::Type, c.id, 0, buffer);
            break;
        }
    }
    ImGui::EndDisabled();
}

// Draws one frame of the view's dialog; returns what the user did.
Action Frame(View& v) {
    HWND dialog = v.dialog;
    const DlgTemplate* t = Win32_DialogTemplate(dialog);
    SDL_SetWindowTitle(v.window, Win32_DialogCaption(dialog).c_str());
    SDL_GL_MakeCurrent(v.window, v.context);
    ImGui::SetCurrentContext(v.imgui);
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(t->width), static_cast<float>(t->height)));
    Action action;
    ImGui::Begin("##dialog", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBringToFrontOnFocus);
    for (const DlgControlTemplate& ct : t->controls)
        if (const DlgControlState* c = Win32_DialogControl(dialog, ct.id)) DrawControl(v, ct, *c, &action);
    ImGui::End();
    ImGui::Render();
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(v.window, &w, &h);
    glViewport(0, 0, w, h);
    const ImVec4 bg = ImGui::GetStyle().Colors[ImGuiCol_WindowBg];
    glClearColor(bg.x, bg.y, bg.z, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    return action;
}

// The window an input or window event belongs to; 0 for the others.
Uint32 EventWindow(const SDL_Event& e) {
    switch (e.type) {
        case SDL_WINDOWEVENT: return e.window.windowID;
        case SDL_MOUSEMOTION: return e.motion.windowID;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: return e.button.windowID;
        case SDL_MOUSEWHEEL: return e.wheel.windowID;
        case SDL_KEYDOWN:
        case SDL_KEYUP: return e.key.windowID;
        case SDL_TEXTINPUT: return e.text.windowID;
        default: return 0;
    }
}

void Carry(HWND dialog, const Action& a) {
    switch (a.kind) {
        case Action::Click: Win32_DialogClick(dialog, a.id); break;
        case Action::Select: Win32_DialogSelect(dialog, a.id, a.index); break;
        case Action::Type: Win32_DialogType(dialog, a.id, a.text.c_str()); break;
        case Action::Cancel:
            // Closing the window is the dialog's cancel command.
            SendMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(Win32_DialogTemplate(dialog)->closeCommand), 0);
            break;
        case Action::None: break;
    }
}

}  // namespace

bool DlgView_Headless() {
    const char* driver = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetCurrentVideoDriver() : std::getenv("SDL_VIDEODRIVER");
    return driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}

bool DlgView_Run(HWND dialog) {
    View* v = OpenView(dialog);
    if (!v) return false;
    CurrentGL keep;
    // A stop from outside ends the dialog and, handed on afterwards, whatever
    // waits under it.
    SDL_Event stop{};
    s_lastStop = 0;
    while (!Win32_DialogEnded(dialog)) {
        Win32_DeliverStopSignal();
        Action pending;
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            // A parent's window waits under a nested dialog: its events are not this dialog's.
            const Uint32 window = EventWindow(event);
            if (window != 0 && window != SDL_GetWindowID(v->window)) {
                // The game's window closed while the dialog is up: the program ends.
                if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE &&
                    !IsDialogWindow(window)) {
                    pending = Act(Action::Cancel);
                    stop = event;
                    s_lastStop = WIN32_DIALOG_QUIT;
                }
                continue;
            }
            ImGui::SetCurrentContext(v->imgui);
            ImGui_ImplSDL2_ProcessEvent(&event);
            const bool ours = event.type == SDL_WINDOWEVENT;
            if (event.type == SDL_QUIT) {
                stop = event;
                s_lastStop = Win32_StopSignal() ? Win32_StopSignal() : WIN32_DIALOG_QUIT;
            }
            if (event.type == SDL_QUIT || (ours && event.window.event == SDL_WINDOWEVENT_CLOSE))
                pending = Act(Action::Cancel);
            // Escape cancels and Enter presses the default button, as in any dialog.
            if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) pending = Act(Action::Cancel);
            if (event.type == SDL_KEYDOWN &&
                (event.key.keysym.sym == SDLK_RETURN || event.key.keysym.sym == SDLK_KP_ENTER))
                for (const DlgControlTemplate& ct : Win32_DialogTemplate(dialog)->controls)
                    if (ct.kind == DlgKind::DefaultButton) pending = Act(Action::Click, ct.id);
            if (ours && (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED ||
                         event.window.event == SDL_WINDOWEVENT_FOCUS_LOST))
                Win32_DialogActivateApp(dialog, event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED);
        }
        Action action = Frame(*v);
        SDL_GL_SwapWindow(v->window);
        if (pending.kind != Action::None) action = pending;
        Carry(dialog, action);
        if (Win32_DialogSeam().eachFrame && !Win32_DialogEnded(dialog)) {
            const auto eachFrame = Win32_DialogSeam().eachFrame;
            eachFrame(dialog);
        }
        SDL_Delay(action.kind == Action::None ? 15 : 0);
    }
    if (stop.type != 0) SDL_PushEvent(&stop);
    return true;
}

int Win32_LastDialogStop() { return s_lastStop; }

bool DlgView_RenderFrame(int* width, int* height, std::vector<uint8_t>* rgba) {
    auto open = Win32_OpenDialogs();
    if (open.empty()) return false;
    View* v = OpenView(open.back());
    if (!v) return false;
    CurrentGL keep;
    // Layout settles in the first frame; the second is the one read back.
    Frame(*v);
    Frame(*v);
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(v->window, &w, &h);
    std::vector<uint8_t> rows(static_cast<size_t>(w) * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    rgba->resize(rows.size());
    const size_t stride = static_cast<size_t>(w) * 4;
    for (int y = 0; y < h; ++y)
        std::memcpy(rgba->data() + static_cast<size_t>(y) * stride,
                    rows.data() + static_cast<size_t>(h - 1 - y) * stride, stride);
    *width = w;
    *height = h;
    return true;
}

void DlgView_CloseEnded() {
    auto open = Win32_OpenDialogs();
    for (auto it = s_views.begin(); it != s_views.end();) {
        if (std::find(open.begin(), open.end(), it->first) == open.end()) {
            CloseView(*it->second);
            it = s_views.erase(it);
        } else {
            ++it;
        }
    }
}
