// The bundle's editor in a small host of ours, as an LV2 host drives it:
// the UI binary loaded from the bundle by file name, instantiated with a
// parent window, idled from this thread; port values and scope events sent
// the way a host forwards them; clicks made through XTest. Runs on a
// virtual X display of its own (with-xvfb.sh).
#include "lv2/PortMap.h"
#include "lv2/ScopeMessage.h"
#include "lv2/Uris.h"
#include "tests/gui/GoldenFrames.h"
#include "tests/x11/X11TestSupport.h"

#include <gtest/gtest.h>
#include <lv2/atom/util.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kWidth = 665, kHeight = 178;

const LV2UI_Descriptor* uiDescriptor()
{
    static const LV2UI_Descriptor* descriptor = [] {
        void* library = dlopen(Z5R_LV2_BUNDLE_PATH "/" Z5R_LV2_UI_BINARY, RTLD_NOW | RTLD_LOCAL);
        if (!library) return static_cast<const LV2UI_Descriptor*>(nullptr);
        auto entry = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(library, "lv2ui_descriptor"));
        return entry ? entry(0) : nullptr;
    }();
    return descriptor;
}

std::vector<uint32_t> goldenFrame(const char* file)
{
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels = readPng(golden::path(file).c_str(), &width, &height);
    return width == kWidth && height == kHeight ? pixels : std::vector<uint32_t>{};
}

// The host's side: URIDs, the writes the UI makes, the size it asks for.
struct Host {
    std::map<std::string, LV2_URID> ids;
    LV2_URID_Map map{this, [](LV2_URID_Map_Handle h, const char* uri) {
                         auto& ids = static_cast<Host*>(h)->ids;
                         return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
                     }};
    LV2UI_Resize resize{this, [](LV2UI_Feature_Handle h, int width, int height) {
                            static_cast<Host*>(h)->size = {width, height};
                            return 0;
                        }};
    std::pair<int, int> size{0, 0};

    struct Write {
        uint32_t port;
        float value;
    };
    std::vector<Write> writes;
    // The object types of the scope words the UI wrote, apart.
    std::vector<LV2_URID> scopeWords;
    static void write(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
    {
        if (port == kPortScopeWatch && size == sizeof(LV2_Atom_Object)) {
            LV2_Atom_Object atom;
            std::memcpy(&atom, buffer, sizeof(atom));
            static_cast<Host*>(controller)->scopeWords.push_back(atom.body.otype);
            return;
        }
        float value = 0.0f;
        if (format == 0 && size == sizeof(float)) std::memcpy(&value, buffer, sizeof(value));
        static_cast<Host*>(controller)->writes.push_back({format == 0 ? port : 0xFFFFFFFFu, value});
    }
};

// The features three hosts pass at instantiate, in their order: jalv 1.6.6
// (jalv.gtk3) and Qtractor 0.9.31 as a UI that logs its features saw them,
// Ardour 7 as its source and suil's X11-in-GTK wrapper (which it goes
// through) build them. The editor reads only ui:parent, urid:map and
// ui:resize; the rest get a block of zeros. jalv and Ardour (through suil)
// name ui:idleInterface; Qtractor does not, and asks extension_data for it
// once the UI exists.
enum class HostKind { Ours, Jalv, Ardour, Qtractor };

const std::vector<const char*>& featureUris(HostKind kind)
{
    static const std::vector<const char*> ours = {LV2_UI__parent, LV2_URID__map, LV2_UI__idleInterface,
                                                  LV2_UI__resize};
    static const std::vector<const char*> jalv = {
        LV2_URID__map, LV2_URID__unmap, "http://lv2plug.in/ns/ext/instance-access",
        "http://lv2plug.in/ns/ext/data-access", "http://lv2plug.in/ns/ext/log#log", LV2_UI__parent,
        "http://lv2plug.in/ns/ext/options#options", LV2_UI__idleInterface, LV2_UI__requestValue, LV2_UI__portMap,
        LV2_UI__resize};
    static const std::vector<const char*> ardour = {
        "http://lv2plug.in/ns/ext/instance-access", "http://lv2plug.in/ns/ext/data-access",
        "http://lv2plug.in/ns/ext/state#makePath", LV2_URID__map, LV2_URID__unmap, "http://lv2plug.in/ns/ext/log#log",
        "http://lv2plug.in/ns/ext/state#loadDefaultState", "http://lv2plug.in/ns/ext/options#options",
        LV2_UI__portMap, LV2_UI__touch, LV2_UI__parent, LV2_UI__resize, LV2_UI__idleInterface};
    static const std::vector<const char*> qtractor = {
        LV2_URID__map, LV2_URID__unmap, "http://lv2plug.in/ns/ext/state",
        "http://lv2plug.in/ns/ext/buf-size#fixedBlockLength", "http://lv2plug.in/ns/ext/buf-size#boundedBlockLength",
        "http://lv2plug.in/ns/ext/state#loadDefaultState", "http://lv2plug.in/ns/ext/state#mapPath",
        "http://kxstudio.sf.net/ns/lv2ext/programs#Host", "http://ardour.org/lv2/midnam#update",
        "http://lv2plug.in/ns/ext/options#options", "http://lv2plug.in/ns/ext/data-access",
        "http://lv2plug.in/ns/ext/instance-access", "http://kxstudio.sf.net/ns/lv2ext/external-ui#Host",
        "http://lv2plug.in/ns/extensions/ui#external", LV2_UI__portMap, LV2_UI__touch, LV2_UI__requestValue,
        LV2_UI__resize, LV2_UI__parent};
    switch (kind) {
    case HostKind::Jalv: return jalv;
    case HostKind::Ardour: return ardour;
    case HostKind::Qtractor: return qtractor;
    default: return ours;
    }
}

class Lv2Ui : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Xvfb starts afresh whenever its last client leaves, and refuses
        // connections meanwhile: one connection stays for the whole run.
        static TestDisplay keepServer;
    }
    void SetUp() override
    {
        ASSERT_NE(uiDescriptor(), nullptr) << "cannot load " Z5R_LV2_BUNDLE_PATH "/" Z5R_LV2_UI_BINARY;
        ASSERT_TRUE(x.ok()) << "no X display";
        parent = x.createParent(20, 20, kWidth, kHeight);
        ASSERT_TRUE(urids.map(host.map));
        errorsBefore = TestDisplay::errors();
    }
    void TearDown() override
    {
        if (ui) uiDescriptor()->cleanup(ui);
        if (parent) {
            x.sync();
            EXPECT_TRUE(x.children(parent).empty()) << "the editor's window outlived cleanup";
            x.destroy(parent);
        }
        EXPECT_EQ(TestDisplay::errors(), errorsBefore) << "the host's connection received X errors";
    }

    LV2UI_Handle instantiate(const char* pluginUri = Z5R_LV2_URI, HostKind kind = HostKind::Ours)
    {
        static const uint64_t zeros[32] = {};
        std::vector<LV2_Feature> features;
        for (const char* uri : featureUris(kind)) {
            void* data = const_cast<uint64_t*>(zeros);
            if (std::strcmp(uri, LV2_UI__parent) == 0) data = reinterpret_cast<void*>(static_cast<uintptr_t>(parent));
            if (std::strcmp(uri, LV2_URID__map) == 0) data = &host.map;
            if (std::strcmp(uri, LV2_UI__resize) == 0) data = &host.resize;
            if (std::strcmp(uri, LV2_UI__idleInterface) == 0) data = nullptr;
            features.push_back({uri, data});
        }
        std::vector<const LV2_Feature*> list;
        for (const LV2_Feature& f : features) list.push_back(&f);
        list.push_back(nullptr);
        return uiDescriptor()->instantiate(uiDescriptor(), pluginUri, Z5R_LV2_BUNDLE_PATH "/", Host::write, &host,
                                           &widget, list.data());
    }
    void open(HostKind kind = HostKind::Ours)
    {
        ui = instantiate(Z5R_LV2_URI, kind);
        ASSERT_NE(ui, nullptr);
        idleInterface = static_cast<const LV2UI_Idle_Interface*>(uiDescriptor()->extension_data(LV2_UI__idleInterface));
        ASSERT_NE(idleInterface, nullptr);
        idle(60);
    }
    // The host's idle loop: every 10 ms; the last answer of the UI.
    int idle(int32_t milliseconds)
    {
        int answer = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        do {
            answer = idleInterface->idle(ui);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (std::chrono::steady_clock::now() < until);
        x.sync();
        return answer;
    }
    // Idles until `done` holds, as a busy machine may take a while to show
    // what the panel sent; false when it never does.
    bool idleUntil(const std::function<bool()>& done)
    {
        for (int32_t waited = 0; waited < 3000; waited += 20) {
            if (done()) return true;
            idle(20);
        }
        return done();
    }
    bool shows(const char* goldenFile)
    {
        const std::vector<uint32_t> reference = goldenFrame(goldenFile);
        return idleUntil([&] { return golden::pixelsBeyondTolerance(frame(), reference) == 0; });
    }
    void portValue(uint32_t port, float value) { uiDescriptor()->port_event(ui, port, sizeof(float), 0, &value); }
    // A click, and the port writes it makes.
    void click(int32_t px, int32_t py, size_t writes)
    {
        x.moveTo(editor(), px, py);
        x.button(1, true);
        idle(30);
        x.button(1, false);
        idleUntil([&] { return host.writes.size() >= writes; });
    }
    unsigned long editor() { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(widget)); }
    std::vector<uint32_t> frame() { return x.pixels(editor(), kWidth, kHeight); }

    TestDisplay x;
    unsigned long parent = 0;
    int32_t errorsBefore = 0;
    Host host;
    ScopeUrids urids;
    LV2UI_Widget widget = nullptr;
    LV2UI_Handle ui = nullptr;
    const LV2UI_Idle_Interface* idleInterface = nullptr;
};

TEST_F(Lv2Ui, OpensInTheParentAsThePanel)
{
    EXPECT_STREQ(uiDescriptor()->URI, Z5R_LV2_UI_URI);
    EXPECT_EQ(instantiate("https://qmv.example/plugins/another"), nullptr);
    open();
    const std::vector<unsigned long> children = x.children(parent);
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0], editor());
    const TestDisplay::Geometry g = x.geometry(editor());
    EXPECT_EQ(g.width, kWidth);
    EXPECT_EQ(g.height, kHeight);
    EXPECT_TRUE(g.viewable);
    EXPECT_EQ(host.size, std::make_pair(kWidth, kHeight));
    EXPECT_TRUE(shows("panel-default.png"))
        << golden::describeDifferences(frame(), goldenFrame("panel-default.png"));
    EXPECT_TRUE(host.writes.empty());
}

TEST_F(Lv2Ui, TellsThePluginWhileTheScopeShows)
{
    open();
    ASSERT_FALSE(host.scopeWords.empty());
    EXPECT_EQ(host.scopeWords.back(), urids.scopeWatch);
    // Once a second while open, so that a UI that vanishes falls silent.
    const size_t watchWords = std::count(host.scopeWords.begin(), host.scopeWords.end(), urids.scopeWatch);
    idleUntil([&] { return std::count(host.scopeWords.begin(), host.scopeWords.end(), urids.scopeWatch) > static_cast<std::ptrdiff_t>(watchWords); });
    EXPECT_EQ(host.scopeWords.back(), urids.scopeWatch);
    EXPECT_GT(std::count(host.scopeWords.begin(), host.scopeWords.end(), urids.scopeWatch), watchWords);
    uiDescriptor()->cleanup(ui);
    ui = nullptr;
    EXPECT_EQ(host.scopeWords.back(), urids.scopeClosed);
    EXPECT_TRUE(host.writes.empty());
}

TEST_F(Lv2Ui, PortValuesMoveTheControlsAndAreNotSentBack)
{
    open();
    const golden::State& moved = golden::kStates[1];
    for (int32_t i = 0; i < kNumParams; ++i) portValue(i, physicalFromNormalized(i, moved.values[i]));
    EXPECT_TRUE(shows(moved.file)) << golden::describeDifferences(frame(), goldenFrame(moved.file));
    EXPECT_TRUE(host.writes.empty());
}

TEST_F(Lv2Ui, ClicksWritePortValuesInTheirUnits)
{
    open();
    ASSERT_TRUE(shows("panel-default.png"));
    click(317 + 14, 122 + 14, 1);  // middle voltage
    click(457 + 14, 122 + 14, 2);  // right cap
    click(237 + 14, 122 + 14, 3);  // right triode (12AU7)
    click(200 + 14, 4 + 14, 4);    // oversample on
    click(318 + 14, 4 + 14, 5);    // normalize on
    click(536 + 18, 162 + 8, 5);   // left trace: no port
    idle(60);
    ASSERT_EQ(host.writes.size(), 5u);
    const std::pair<uint32_t, float> expected[] = {
        {kPortVoltage, 250.0f}, {kPortCap, 22.0f}, {kPortTriode, 2.0f}, {kPortOversample, 1.0f}, {kPortNormalize, 1.0f}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(host.writes[i].port, expected[i].first) << i;
        EXPECT_EQ(host.writes[i].value, expected[i].second) << i;
    }

    // A drag up the gain ring writes decibels that stand for whole ring steps.
    host.writes.clear();
    x.moveTo(editor(), 15 + 70, 15 + 60);
    x.button(1, true);
    idle(30);
    x.moveTo(editor(), 15 + 70, 15 + 20);
    idleUntil([&] { return !host.writes.empty(); });
    x.button(1, false);
    idle(30);
    ASSERT_FALSE(host.writes.empty());
    for (const Host::Write& w : host.writes) {
        EXPECT_EQ(w.port, static_cast<uint32_t>(kPortGain));
        const float steps = normalizedFromPhysical(kParamGain, w.value) * 100.0f;
        EXPECT_NEAR(steps, std::round(steps), 1e-3f) << w.value;
    }
    EXPECT_GT(host.writes.back().value, 12.0f);
}

TEST_F(Lv2Ui, ScopeEventsArePlottedAndMalformedOnesIgnored)
{
    open();
    ASSERT_TRUE(shows("panel-default.png"));
    const std::vector<uint32_t> before = frame();

    // What the host forwards from the scope output: one event's atom.
    std::vector<ScopePoint> points(256);
    for (size_t i = 0; i < points.size(); ++i) {
        const float t = static_cast<float>(i) / 128.0f - 1.0f;
        points[i] = {t, 0.0f, 0.8f * t, 0.0f};
    }
    std::vector<uint8_t> buffer(scopeEventBytes(256) + 64);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &host.map);
    lv2_atom_forge_set_buffer(&forge, buffer.data(), static_cast<uint32_t>(buffer.size()));
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&forge, &sequence, 0);
    ASSERT_EQ(writeScopeEvent(forge, urids, points.data(), 256), 256);
    lv2_atom_forge_pop(&forge, &sequence);
    const auto* event = lv2_atom_sequence_begin(&reinterpret_cast<LV2_Atom_Sequence*>(buffer.data())->body);
    const uint32_t eventBytes = sizeof(LV2_Atom) + event->body.size;

    // Malformed events and events on the wrong port change nothing.
    std::vector<uint8_t> garbage(eventBytes, 0xFF);
    uiDescriptor()->port_event(ui, kPortScope, eventBytes, urids.atomEventTransfer, garbage.data());
    uiDescriptor()->port_event(ui, kPortScope, 4, urids.atomEventTransfer, &event->body);
    uiDescriptor()->port_event(ui, kPortGain, eventBytes, urids.atomEventTransfer, &event->body);
    uiDescriptor()->port_event(ui, kPortCount + 5, 4, 0, garbage.data());
    idle(60);
    EXPECT_EQ(frame(), before);

    uiDescriptor()->port_event(ui, kPortScope, eventBytes, urids.atomEventTransfer, &event->body);
    idleUntil([&] { return frame() != before; });
    const std::vector<uint32_t> after = frame();
    int32_t changedInScope = 0, changedElsewhere = 0;
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t xx = 0; xx < kWidth; ++xx) {
            const bool inScope = xx >= 507 && xx < 507 + 142 && y >= 18 && y < 18 + 142;
            if (after[size_t(y) * kWidth + xx] != before[size_t(y) * kWidth + xx])
                ++(inScope ? changedInScope : changedElsewhere);
        }
    EXPECT_GT(changedInScope, 100);  // the trace, a line across the face
    EXPECT_EQ(changedElsewhere, 0);
}

TEST_F(Lv2Ui, AskedToCloseWhenTheParentGoesFirst)
{
    open();
    x.destroy(parent);
    parent = 0;
    EXPECT_EQ(idle(30), 1);
}

// Each host's features open the panel, and each drives it the same way:
// through the idle interface that extension_data gives.
TEST_F(Lv2Ui, OpensWithTheFeaturesOfJalvArdourAndQtractor)
{
    for (HostKind kind : {HostKind::Jalv, HostKind::Ardour, HostKind::Qtractor}) {
        SCOPED_TRACE(static_cast<int>(kind));
        host.writes.clear();
        host.size = {0, 0};
        open(kind);
        ASSERT_NE(ui, nullptr);
        EXPECT_EQ(host.size, std::make_pair(kWidth, kHeight));
        EXPECT_TRUE(shows("panel-default.png"));
        const golden::State& moved = golden::kStates[1];
        for (int32_t i = 0; i < kNumParams; ++i) portValue(i, physicalFromNormalized(i, moved.values[i]));
        EXPECT_TRUE(shows(moved.file));
        EXPECT_TRUE(host.writes.empty());
        uiDescriptor()->cleanup(ui);
        ui = nullptr;
        x.sync();
        EXPECT_TRUE(x.children(parent).empty());
    }
    // Without a parent or a URID map there is nothing to draw in or to read
    // the scope with.
    const LV2_Feature mapFeature{LV2_URID__map, &host.map};
    const LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(static_cast<uintptr_t>(parent))};
    const LV2_Feature* noParent[] = {&mapFeature, nullptr};
    const LV2_Feature* noMap[] = {&parentFeature, nullptr};
    EXPECT_EQ(uiDescriptor()->instantiate(uiDescriptor(), Z5R_LV2_URI, "", Host::write, &host, &widget, noParent),
              nullptr);
    EXPECT_EQ(uiDescriptor()->instantiate(uiDescriptor(), Z5R_LV2_URI, "", Host::write, &host, &widget, noMap),
              nullptr);
}

// What suil's X11-in-GTK wrappers do when the editor's window goes while
// the host still runs (jalv at quit): clean the UI up and null the handle,
// while the host's update timer goes on forwarding port events and idles
// through the same functions. Null and cleaned-up handles do nothing, and a
// later editor is not reached through an earlier one's handle.
TEST_F(Lv2Ui, PortEventsAndIdleOnANullOrCleanedUpHandleDoNothing)
{
    open();
    const LV2UI_Handle first = ui;
    uiDescriptor()->cleanup(first);
    ui = nullptr;

    const float gain = 30.0f;
    std::vector<uint8_t> scope(64, 0);
    for (LV2UI_Handle h : {LV2UI_Handle(nullptr), first}) {
        uiDescriptor()->port_event(h, kPortGain, sizeof(float), 0, &gain);
        uiDescriptor()->port_event(h, kPortScope, static_cast<uint32_t>(scope.size()), urids.atomEventTransfer,
                                   scope.data());
        EXPECT_EQ(idleInterface->idle(h), 1);  // nothing to drive: close
        uiDescriptor()->cleanup(h);
    }

    open();
    ASSERT_NE(ui, first);
    ASSERT_TRUE(shows("panel-default.png"));
    uiDescriptor()->port_event(first, kPortGain, sizeof(float), 0, &gain);
    idle(60);
    EXPECT_TRUE(shows("panel-default.png"));
}

// Port events hammered from another thread while this one idles the editor
// and then cleans it up: none may reach a destroyed editor, and none may
// race with the panel's own reads (run under ThreadSanitizer and
// AddressSanitizer too).
TEST_F(Lv2Ui, PortEventsFromAnotherThreadDuringCleanupAreHarmless)
{
    std::vector<ScopePoint> points(64, ScopePoint{0.5f, -0.5f, 0.25f, -0.25f});
    std::vector<uint8_t> buffer(scopeEventBytes(64) + 64);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &host.map);
    lv2_atom_forge_set_buffer(&forge, buffer.data(), static_cast<uint32_t>(buffer.size()));
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&forge, &sequence, 0);
    ASSERT_EQ(writeScopeEvent(forge, urids, points.data(), 64), 64);
    lv2_atom_forge_pop(&forge, &sequence);
    const auto* event = lv2_atom_sequence_begin(&reinterpret_cast<LV2_Atom_Sequence*>(buffer.data())->body);
    const uint32_t eventBytes = sizeof(LV2_Atom) + event->body.size;

    for (int32_t round = 0; round < 4; ++round) {
        open();  // the scope runs while the editor is open: its events take the longest branch
        std::atomic<LV2UI_Handle> target{ui};
        std::atomic<bool> stop{false};
        std::atomic<int64_t> sent{0};
        std::thread hammer([&] {
            for (int32_t i = 0; !stop.load(); ++i) {
                const LV2UI_Handle h = target.load();
                const float value = static_cast<float>(i % 48) - 12.0f;
                uiDescriptor()->port_event(h, kPortGain, sizeof(float), 0, &value);
                uiDescriptor()->port_event(h, kPortScope, eventBytes, urids.atomEventTransfer, &event->body);
                sent.fetch_add(1);
            }
        });
        while (sent.load() < 200) idle(10);
        idle(40);
        uiDescriptor()->cleanup(ui);
        const int64_t atCleanup = sent.load();
        while (sent.load() < atCleanup + 200) std::this_thread::yield();
        target.store(nullptr);
        const int64_t atNull = sent.load();
        while (sent.load() < atNull + 200) std::this_thread::yield();
        stop = true;
        hammer.join();
        ui = nullptr;
        x.sync();
        EXPECT_TRUE(x.children(parent).empty());
    }
}

}  // namespace
