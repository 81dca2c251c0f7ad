#include "platform/win32/dialog_view.h"

#include <SDL.h>
#include <epoxy/gl.h>
#include <imgui.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "platform/d3d9/d3d9.h"

namespace {

constexpr const char* kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr float kFontSize = 15.0f;

struct View {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    ImGuiContext* imgui = nullptr;
    std::map<const Win32Bitmap*, GLuint> textures;
    const DlgTemplate* shown = nullptr;
};
View s_view;

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

bool OpenView(int width, int height, const char* caption) {
    if (s_view.window) return true;
    // The GL driver stays loaded for the life of the process, shared with the
    // video device: drivers are not made to be unloaded and loaded again.
    if (!D3D9_LoadDriver()) return false;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    const Uint32 shown = DlgView_Headless() ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN;
    s_view.window = SDL_CreateWindow(caption, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                                     SDL_WINDOW_OPENGL | shown);
    if (!s_view.window) return false;
    CurrentGL keep;
    s_view.context = SDL_GL_CreateContext(s_view.window);
    if (!s_view.context) {
        SDL_DestroyWindow(s_view.window);
        s_view.window = nullptr;
        return false;
    }
    SDL_GL_MakeCurrent(s_view.window, s_view.context);
    IMGUI_CHECKVERSION();
    s_view.imgui = ImGui::CreateContext();
    ImGui::SetCurrentContext(s_view.imgui);
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
    ImGui_ImplSDL2_InitForOpenGL(s_view.window, s_view.context);
    ImGui_ImplOpenGL3_Init("#version 330 core");
    return true;
}

void CloseView() {
    if (!s_view.window) return;
    CurrentGL keep;
    SDL_GL_MakeCurrent(s_view.window, s_view.context);
    ImGui::SetCurrentContext(s_view.imgui);
    for (auto& [bitmap, texture] : s_view.textures) glDeleteTextures(1, &texture);
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext(s_view.imgui);
    SDL_GL_DeleteContext(s_view.context);
    SDL_DestroyWindow(s_view.window);
    keep.context = keep.context == s_view.context ? nullptr : keep.context;
    s_view = View{};
}

GLuint TextureOf(const Win32Bitmap* bitmap) {
    auto it = s_view.textures.find(bitmap);
    if (it != s_view.textures.end()) return it->second;
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, bitmap->width, bitmap->height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 bitmap->rgba.data());
    s_view.textures[bitmap] = texture;
    return texture;
}

std::string Label(const DlgControlState& c) { return c.text + "##" + std::to_string(c.id); }

void DrawControl(const DlgControlTemplate& t, const DlgControlState& c, Action* action) {
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
                ImGui::Image(reinterpret_cast<ImTextureID>(static_cast<uintptr_t>(TextureOf(c.image))),
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

// Draws one frame of the topmost dialog; returns what the user did.
Action Frame(HWND dialog) {
    const DlgTemplate* t = Win32_DialogTemplate(dialog);
    if (s_view.shown != t) {
        // The window takes the size and caption of the dialog it shows.
        SDL_SetWindowSize(s_view.window, t->width, t->height);
        s_view.shown = t;
    }
    SDL_SetWindowTitle(s_view.window, Win32_DialogCaption(dialog).c_str());
    SDL_GL_MakeCurrent(s_view.window, s_view.context);
    ImGui::SetCurrentContext(s_view.imgui);
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
        if (const DlgControlState* c = Win32_DialogControl(dialog, ct.id)) DrawControl(ct, *c, &action);
    ImGui::End();
    ImGui::Render();
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(s_view.window, &w, &h);
    glViewport(0, 0, w, h);
    const ImVec4 bg = ImGui::GetStyle().Colors[ImGuiCol_WindowBg];
    glClearColor(bg.x, bg.y, bg.z, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    return action;
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
    const DlgTemplate* t = Win32_DialogTemplate(dialog);
    if (!t || !OpenView(t->width, t->height, Win32_DialogCaption(dialog).c_str())) return false;
    CurrentGL keep;
    while (!Win32_DialogEnded(dialog)) {
        Action pending;
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            ImGui::SetCurrentContext(s_view.imgui);
            ImGui_ImplSDL2_ProcessEvent(&event);
            if (event.type == SDL_QUIT ||
                (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE))
                pending = Act(Action::Cancel);
            if (event.type == SDL_WINDOWEVENT && (event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED ||
                                                  event.window.event == SDL_WINDOWEVENT_FOCUS_LOST))
                Win32_DialogActivateApp(dialog, event.window.event == SDL_WINDOWEVENT_FOCUS_GAINED);
        }
        Action action = Frame(dialog);
        SDL_GL_SwapWindow(s_view.window);
        if (pending.kind != Action::None) action = pending;
        Carry(dialog, action);
        // A dialog opened by the action came back: show this one again.
        if (s_view.shown != t && !Win32_DialogEnded(dialog)) s_view.shown = nullptr;
        SDL_Delay(action.kind == Action::None ? 15 : 0);
    }
    return true;
}

bool DlgView_RenderFrame(int* width, int* height, std::vector<uint8_t>* rgba) {
    auto open = Win32_OpenDialogs();
    if (open.empty()) return false;
    HWND dialog = open.back();
    const DlgTemplate* t = Win32_DialogTemplate(dialog);
    if (!OpenView(t->width, t->height, Win32_DialogCaption(dialog).c_str())) return false;
    CurrentGL keep;
    // Layout settles in the first frame; the second is the one read back.
    Frame(dialog);
    Frame(dialog);
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(s_view.window, &w, &h);
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

void DlgView_CloseIfIdle() {
    if (Win32_OpenDialogs().empty()) CloseView();
}
