// Pictures of the Linux editor for people: loads the plug-in the way a host
// does, opens its editor in a window of its own on the X display, runs
// audio through it on a second thread so the scope shows traces, and
// writes PNG captures of the panel and of the about image.
//   z5r-editor-snapshot-x11 PLUGIN.so PANEL.png [ABOUT.png]
#include "plugin/vst2abi.h"

#include <dlfcn.h>
#include <png.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

intptr_t VST_CALL host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A picked, decaying guitar-like chord, a little different on each side.
float pluck(double t, double f0, double phase)
{
    double sum = 0.0;
    const double decay = std::exp(-2.5 * t);
    for (int h = 1; h <= 6; ++h) sum += std::sin(6.283185307179586 * f0 * h * t + phase * h) / (h * h);
    return static_cast<float>(0.55 * decay * sum);
}

void idleFor(AEffect* effect, int milliseconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < until) {
        effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0.0f);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The window's pixels as 8-bit RGB, from a 24- or 32-bit true-colour screen.
bool savePng(xcb_connection_t* c, xcb_window_t window, int width, int height, const char* path)
{
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, width, height, ~0u), nullptr);
    if (!image) return false;
    const uint8_t* data = xcb_get_image_data(image);
    const int length = xcb_get_image_data_length(image);
    bool ok = length >= width * height * 4;
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (int i = 0; ok && i < width * height; ++i) {
        rgb[i * 3] = data[i * 4 + 2];
        rgb[i * 3 + 1] = data[i * 4 + 1];
        rgb[i * 3 + 2] = data[i * 4];
    }
    std::free(image);
    if (!ok) return false;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = width;
    png.height = height;
    png.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, path, 0, rgb.data(), 0, nullptr) != 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: z5r-editor-snapshot-x11 PLUGIN.so PANEL.png [ABOUT.png]\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    auto entry = library ? reinterpret_cast<AEffect*(VST_CALL*)(audioMasterCallback)>(dlsym(library, "VSTPluginMain"))
                         : nullptr;
    AEffect* effect = entry ? entry(host) : nullptr;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (!effect || xcb_connection_has_error(c)) {
        std::fprintf(stderr, "z5r-editor-snapshot-x11: cannot load the plug-in or reach the display\n");
        return 1;
    }
    auto call = [effect](int32_t opcode, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, 0, value, ptr, opt);
    };
    call(effOpen);
    call(effSetSampleRate, 0, nullptr, 48000.0f);
    call(effSetBlockSize, 256);
    effect->setParameter(effect, 1, 0.72f);  // a little more drive than the default
    call(effMainsChanged, 1);

    ERect* rect = nullptr;
    call(effEditGetRect, 0, &rect);
    const int width = rect ? rect->right - rect->left : 665;
    const int height = rect ? rect->bottom - rect->top : 178;

    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t parent = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, parent, screen->root, 0, 0, width, height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_map_window(c, parent);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    call(effEditOpen, 0, reinterpret_cast<void*>(uintptr_t(parent)));

    std::atomic<bool> running{true};
    std::thread audio([&] {
        std::vector<float> left(256), right(256), outLeft(256), outRight(256);
        float* in[2] = {left.data(), right.data()};
        float* out[2] = {outLeft.data(), outRight.data()};
        long long frame = 0;
        while (running) {
            for (int i = 0; i < 256; ++i, ++frame) {
                const double t = std::fmod(frame / 48000.0, 1.2);
                left[i] = pluck(t, 110.0, 0.0) + pluck(t, 164.8, 0.4);
                right[i] = pluck(t, 146.8, 0.9) + pluck(t, 220.0, 0.2);
            }
            effect->processReplacing(effect, in, out, 256);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    idleFor(effect, 1500);
    bool ok = savePng(c, parent, width, height, argv[2]);
    if (argc == 4) {
        // A click on the logo, sent to the editor's window.
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, parent), nullptr);
        const xcb_window_t editor = tree && tree->children_len ? xcb_query_tree_children(tree)[0] : 0;
        std::free(tree);
        for (uint8_t type : {uint8_t(XCB_BUTTON_PRESS), uint8_t(XCB_BUTTON_RELEASE)}) {
            xcb_button_press_event_t click{};
            click.response_type = type;
            click.detail = 1;
            click.root = screen->root;
            click.event = editor;
            click.child = XCB_NONE;
            click.event_x = 320;
            click.event_y = 60;
            click.same_screen = 1;
            xcb_send_event(c, 0, editor, type == XCB_BUTTON_PRESS ? XCB_EVENT_MASK_BUTTON_PRESS : XCB_EVENT_MASK_BUTTON_RELEASE,
                           reinterpret_cast<const char*>(&click));
        }
        xcb_flush(c);
        idleFor(effect, 300);
        ok = savePng(c, parent, width, height, argv[3]) && ok;
    }

    running = false;
    audio.join();
    call(effEditClose);
    call(effMainsChanged, 0);
    call(effClose);
    xcb_disconnect(c);
    if (!ok) std::fprintf(stderr, "z5r-editor-snapshot-x11: could not write the pictures\n");
    return ok ? 0 : 1;
}
