// The bundle in a host of our own built on lilv, against the VST 2.4 build
// loaded the way a VST host loads it (dlopen, VSTPluginMain). Where the port
// values stand for the VST normalized values, the two must give the same
// bits, block size by block size; the latency port must follow
// Oversampling; wild port values must give finite audio; the scope must
// reach the atom output intact. (The presets are held to the programs by
// lv2.lv2file, through a host nobody here wrote.)
#include "lv2/PortMap.h"
#include "lv2/ScopeMessage.h"
#include "lv2/Uris.h"
#include "plugin/vst2abi.h"
#include "tests/LoadedPlugin.h"

#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kRate = 48000.0;

using Settings = std::array<float, kNumParams>;

// --- the host's URID map ---------------------------------------------------

class UridTable {
public:
    UridTable() : map{this, &UridTable::mapUri} {}
    LV2_URID_Map map;
    LV2_Feature feature{LV2_URID__map, &map};
    LV2_URID operator()(const char* uri) { return mapUri(this, uri); }

private:
    static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri)
    {
        auto& ids = static_cast<UridTable*>(handle)->ids;
        return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
    }
    std::map<std::string, LV2_URID> ids;
};

UridTable& urids()
{
    static UridTable table;
    return table;
}

// --- the bundle, loaded once -----------------------------------------------

struct Bundle {
    LilvWorld* world = lilv_world_new();
    const LilvPlugin* plugin = nullptr;

    Bundle()
    {
        LilvNode* path = lilv_new_file_uri(world, nullptr, Z5R_LV2_BUNDLE_PATH "/");
        lilv_world_load_bundle(world, path);
        lilv_node_free(path);
        LilvNode* uri = lilv_new_uri(world, Z5R_LV2_URI);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    LilvNode* node(const char* uri) const { return lilv_new_uri(world, uri); }
};

const Bundle& bundle()
{
    static Bundle b;
    return b;
}

// A plucked test signal, the same bits on every run.
void testSignal(std::vector<float>& left, std::vector<float>& right, int32_t frames)
{
    left.resize(frames);
    right.resize(frames);
    double lx = 0.0, ly = 1.0, rx = 0.0, ry = 1.0, envelope = 1.0;
    for (int32_t k = 0; k < frames; ++k) {
        if (k % 2500 == 0) envelope = 1.0;
        envelope *= 0.9993;
        lx += 0.0517 * ly;
        ly -= 0.0517 * lx;
        rx += 0.0311 * ry;
        ry -= 0.0311 * rx;
        left[k] = static_cast<float>(envelope * lx);
        right[k] = static_cast<float>(envelope * 0.9 * rx);
    }
}

// Block sizes: the same fixed size throughout, or (size 0) a repeatable
// mixture of odd sizes from 1 to 700.
std::vector<int32_t> blockPlan(int32_t frames, int32_t size)
{
    std::vector<int32_t> plan;
    uint32_t state = 0x2545F491u;
    while (frames > 0) {
        int32_t n = size;
        if (size == 0) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            n = 1 + static_cast<int32_t>(state % 700u);
        }
        n = std::min(n, frames);
        plan.push_back(n);
        frames -= n;
    }
    return plan;
}

struct Render {
    std::vector<float> left, right;
    bool sameBits(const Render& other) const
    {
        return left.size() == other.left.size() &&
               std::memcmp(left.data(), other.left.data(), left.size() * sizeof(float)) == 0 &&
               std::memcmp(right.data(), other.right.data(), right.size() * sizeof(float)) == 0;
    }
    bool finite() const
    {
        auto ok = [](float x) { return std::isfinite(x); };
        return std::all_of(left.begin(), left.end(), ok) && std::all_of(right.begin(), right.end(), ok);
    }
    double peak() const
    {
        double p = 0.0;
        for (float x : left) p = std::max(p, std::fabs(static_cast<double>(x)));
        for (float x : right) p = std::max(p, std::fabs(static_cast<double>(x)));
        return p;
    }
};

// Called before each block with the block's number.
using BeforeBlock = std::function<void(size_t)>;
// Processes one block: inputs and outputs at the same frame offset.
using ProcessBlock = std::function<void(const float* inL, const float* inR, float* outL, float* outR, int32_t n)>;

Render renderBlocks(const std::vector<float>& inL, const std::vector<float>& inR, int32_t blockSize,
                    const BeforeBlock& before, const ProcessBlock& process)
{
    Render out;
    out.left.assign(inL.size(), 7.0f);
    out.right.assign(inR.size(), 7.0f);
    size_t offset = 0;
    const auto plan = blockPlan(static_cast<int32_t>(inL.size()), blockSize);
    for (size_t b = 0; b < plan.size(); ++b) {
        if (before) before(b);
        process(&inL[offset], &inR[offset], &out.left[offset], &out.right[offset], plan[b]);
        offset += plan[b];
    }
    return out;
}

// --- the LV2 instance, in our host ------------------------------------------

class Lv2Host {
public:
    explicit Lv2Host(double rate = kRate, bool withMap = true)
    {
        const LV2_Feature* withMapList[] = {&urids().feature, nullptr};
        const LV2_Feature* none[] = {nullptr};
        instance = lilv_plugin_instantiate(bundle().plugin, rate, withMap ? withMapList : none);
        if (!instance) return;
        for (int32_t i = 0; i < kNumParams; ++i) {
            controls[i] = kParameterInfo[i].defaultPhysical;
            lilv_instance_connect_port(instance, i, &controls[i]);
        }
        lilv_instance_connect_port(instance, kPortLatency, &latency);
        lilv_instance_activate(instance);
        // Every table set ready, so that a setting lands at its first block.
        const auto* tables =
            static_cast<const Z5rTablesInterface*>(lilv_instance_get_extension_data(instance, Z5R_LV2_TABLES_INTERFACE));
        if (tables) tables->wait();
    }
    ~Lv2Host()
    {
        if (!instance) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    Lv2Host(const Lv2Host&) = delete;
    Lv2Host& operator=(const Lv2Host&) = delete;

    bool ok() const { return instance != nullptr; }
    void set(const Settings& values) { std::copy(values.begin(), values.end(), controls.begin()); }

    // The scope port, with `capacity` bytes for the plug-in to write, or
    // left unconnected with 0.
    void connectScope(uint32_t capacity)
    {
        scopeCapacity = capacity;
        scopeBuffer.assign(capacity / 8 + 1 + kGuardWords, kGuard);
        lilv_instance_connect_port(instance, kPortScope, capacity ? scopeBuffer.data() : nullptr);
    }

    // The editor's word, delivered with the next run only, as hosts deliver
    // an editor's events.
    void say(ScopeWord word)
    {
        ScopeUrids ids;
        ids.map(urids().map);
        const LV2_Atom_Object atom = scopeWordAtom(ids, word);
        auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(watchBuffer.data());
        sequence->atom.type = urids()(LV2_ATOM__Sequence);
        sequence->body.unit = 0;
        sequence->body.pad = 0;
        auto* event = reinterpret_cast<LV2_Atom_Event*>(sequence + 1);
        event->time.frames = 0;
        std::memcpy(&event->body, &atom, sizeof(atom));
        sequence->atom.size = static_cast<uint32_t>(sizeof(LV2_Atom_Sequence_Body) + sizeof(LV2_Atom_Event) +
                                                    sizeof(LV2_Atom_Object_Body));
        lilv_instance_connect_port(instance, kPortScopeWatch, watchBuffer.data());
    }

    void runBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames)
    {
        lilv_instance_connect_port(instance, kPortInputLeft, const_cast<float*>(inL));
        lilv_instance_connect_port(instance, kPortInputRight, const_cast<float*>(inR));
        lilv_instance_connect_port(instance, kPortOutputLeft, outL);
        lilv_instance_connect_port(instance, kPortOutputRight, outR);
        if (scopeCapacity) {
            // As hosts do: the room the plug-in may fill, in the atom's size.
            auto* atom = reinterpret_cast<LV2_Atom*>(scopeBuffer.data());
            atom->type = urids()(LV2_ATOM__Chunk);
            atom->size = scopeCapacity - sizeof(LV2_Atom);
        }
        lilv_instance_run(instance, frames);
        // Input sequences hold what arrived for this run only.
        reinterpret_cast<LV2_Atom_Sequence*>(watchBuffer.data())->atom.size = sizeof(LV2_Atom_Sequence_Body);
    }

    Render render(const std::vector<float>& inL, const std::vector<float>& inR, int32_t blockSize,
                  const BeforeBlock& before = {})
    {
        return renderBlocks(inL, inR, blockSize, before,
                            [this](const float* l, const float* r, float* oL, float* oR, int32_t n) {
                                runBlock(l, r, oL, oR, static_cast<uint32_t>(n));
                            });
    }

    void reactivate()
    {
        lilv_instance_deactivate(instance);
        lilv_instance_activate(instance);
    }

    bool guardIntact() const
    {
        const size_t first = (scopeCapacity + 7) / 8;
        for (size_t i = first; i < scopeBuffer.size(); ++i)
            if (scopeBuffer[i] != kGuard) return false;
        return true;
    }
    const LV2_Atom_Sequence* scopeSequence() const
    {
        return reinterpret_cast<const LV2_Atom_Sequence*>(scopeBuffer.data());
    }

    std::array<float, kNumParams> controls{};
    float latency = -1.0f;

private:
    static constexpr uint64_t kGuard = 0xA5A5A5A5A5A5A5A5ull;
    static constexpr size_t kGuardWords = 8;
    LilvInstance* instance = nullptr;
    uint32_t scopeCapacity = 0;
    std::vector<uint64_t> scopeBuffer;
    std::vector<uint64_t> watchBuffer = std::vector<uint64_t>(16, 0);
};

// --- the VST 2.4 build ------------------------------------------------------

const LoadedPlugin& vstLibrary()
{
    static LoadedPlugin lib(Z5R_VST_FILE);
    return lib;
}

// The VST 2.4 build's vendor-specific call that waits for its table sets ('Z5Rw').
constexpr int32_t kVendorWaitForTables = 0x5A355277;

intptr_t VST_CALL vstHostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

class VstHost {
public:
    explicit VstHost(float rate = static_cast<float>(kRate))
    {
        if (!vstLibrary().vstPluginMain) return;
        effect = vstLibrary().vstPluginMain(vstHostCallback);
        if (!effect) return;
        call(effSetSampleRate, 0, 0, rate);
        call(effSetBlockSize, 0, 4096);
        call(effMainsChanged, 0, 1);
        call(effVendorSpecific, kVendorWaitForTables);
    }
    ~VstHost()
    {
        if (!effect) return;
        call(effMainsChanged, 0, 0);
        call(effClose);
    }
    VstHost(const VstHost&) = delete;
    VstHost& operator=(const VstHost&) = delete;

    bool ok() const { return effect != nullptr; }
    intptr_t call(int32_t opcode, int32_t index = 0, intptr_t value = 0, float opt = 0.0f, void* ptr = nullptr)
    {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    void set(const Settings& values)
    {
        for (int32_t i = 0; i < kNumParams; ++i) setOne(i, values[i]);
    }
    void setOne(int32_t index, float value) { effect->setParameter(effect, index, value); }

    Render render(const std::vector<float>& inL, const std::vector<float>& inR, int32_t blockSize,
                  const BeforeBlock& before = {})
    {
        return renderBlocks(inL, inR, blockSize, before,
                            [this](const float* l, const float* r, float* oL, float* oR, int32_t n) {
                                float* inputs[2] = {const_cast<float*>(l), const_cast<float*>(r)};
                                float* outputs[2] = {oL, oR};
                                effect->processReplacing(effect, inputs, outputs, n);
                            });
    }

private:
    AEffect* effect = nullptr;
};

// A setting as LV2 users type it and as the VST 2.4 build receives it.
struct Pair {
    const char* what;
    Settings port;
    Settings vst;
};

const Pair kPairs[] = {
    {"defaults", {0, 12, 0, 0, 150, 0.47f, 0}, {0, 0.5f, 0.5f, 0, 0, 0, 0}},
    {"12AT7 at 250 V, 16x", {1, 24, -6, 1, 250, 1, 0}, {1, 0.75f, 0.375f, 0.5f, 0.5f, 0.5f, 0}},
    {"top of every range, normalized", {0, 36, 24, 2, 350, 22, 1}, {0, 1, 1, 1, 1, 1, 1}},
    {"bottom of the ranges, 16x, normalized", {1, -12, -24, 0, 350, 0.47f, 1}, {1, 0, 0, 0, 1, 0, 1}},
    {"typed decimals", {1, 26.4f, -2.4f, 2, 250, 22, 0}, {1, 0.8f, 0.45f, 1, 0.5f, 1, 0}},
    // Near the bottom of a range, where a plain (float + 24) / 48 misses the
    // VST float by a step (the port test holds every such float).
    {"more typed decimals", {0, 7.3f, -23.7f, 1, 150, 22, 1},
     {0, static_cast<float>(19.3L / 48), static_cast<float>(0.3L / 48), 0.5f, 0, 1, 1}},
};

class Lv2Bundle : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(bundle().plugin, nullptr) << "no " Z5R_LV2_URI " in " Z5R_LV2_BUNDLE_PATH;
        ASSERT_NE(vstLibrary().vstPluginMain, nullptr) << "cannot load " Z5R_VST_FILE;
        testSignal(inL, inR, kFrames);
    }
    static constexpr int32_t kFrames = 9000;
    std::vector<float> inL, inR;
};

// --- what hosts read from the Turtle ----------------------------------------

TEST_F(Lv2Bundle, PortsAreDescribedAsTheTableSays)
{
    const LilvPlugin* plugin = bundle().plugin;
    LilvNode* name = lilv_plugin_get_name(plugin);
    EXPECT_STREQ(lilv_node_as_string(name), "Korvane Z5R");
    lilv_node_free(name);
    auto has = [&](const char* uri, const LilvPort* port) {
        LilvNode* node = bundle().node(uri);
        const bool yes = port ? lilv_port_has_property(plugin, port, node) : lilv_plugin_has_feature(plugin, node);
        lilv_node_free(node);
        return yes;
    };
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), static_cast<uint32_t>(kPortCount));
    EXPECT_EQ(lilv_plugin_get_latency_port_index(plugin), static_cast<uint32_t>(kPortLatency));
    EXPECT_TRUE(has(LV2_CORE__hardRTCapable, nullptr));
    EXPECT_FALSE(has(LV2_CORE__inPlaceBroken, nullptr));
    for (uint32_t i = 0; i < kPortCount; ++i)
        EXPECT_FALSE(has("http://lv2plug.in/ns/ext/port-props#notOnGUI", lilv_plugin_get_port_by_index(plugin, i)));
#ifdef Z5R_LV2_WITH_UI
    // The editor, an X11 UI in its own binary.
    LilvUIs* uis = lilv_plugin_get_uis(plugin);
    ASSERT_EQ(lilv_uis_size(uis), 1u);
    const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
    EXPECT_STREQ(lilv_node_as_uri(lilv_ui_get_uri(ui)), Z5R_LV2_UI_URI);
    LilvNode* x11 = bundle().node(LV2_UI__X11UI);
    EXPECT_TRUE(lilv_ui_is_a(ui, x11));
    EXPECT_TRUE(std::string(lilv_node_as_uri(lilv_ui_get_binary_uri(ui))).ends_with("/" Z5R_LV2_UI_BINARY));
    lilv_node_free(x11);
    lilv_uis_free(uis);
#endif

    for (int32_t i = 0; i < kNumParams; ++i) {
        const ParameterInfo& table = kParameterInfo[i];
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), table.symbol);
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(plugin, port, &def, &min, &max);
        EXPECT_EQ(lilv_node_as_float(def), table.defaultPhysical) << table.symbol;
        EXPECT_EQ(lilv_node_as_float(min), table.minimum) << table.symbol;
        EXPECT_EQ(lilv_node_as_float(max), table.maximum) << table.symbol;
        for (LilvNode* n : {def, min, max}) lilv_node_free(n);
        EXPECT_EQ(has(LV2_CORE__toggled, port), table.kind == ParamKind::Switch) << table.symbol;
        EXPECT_EQ(has(LV2_CORE__enumeration, port), table.kind == ParamKind::Choice) << table.symbol;
        if (table.kind != ParamKind::Choice) continue;
        // Every entry a host offers must select itself.
        LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
        EXPECT_EQ(lilv_scale_points_size(points), static_cast<unsigned>(table.stepCount + 1));
        LILV_FOREACH (scale_points, it, points) {
            const LilvScalePoint* point = lilv_scale_points_get(points, it);
            const float value = lilv_node_as_float(lilv_scale_point_get_value(point));
            EXPECT_EQ(table.entries[choiceIndex(i, value)], value);
            EXPECT_STREQ(lilv_node_as_string(lilv_scale_point_get_label(point)),
                         table.entryLabels[choiceIndex(i, value)]);
        }
        lilv_scale_points_free(points);
    }
}

TEST_F(Lv2Bundle, RefusesHostsWithoutUridMapAndRatesTheStageIsNotMadeFor)
{
    EXPECT_FALSE(Lv2Host(kRate, false).ok());
    EXPECT_FALSE(Lv2Host(4000.0).ok());
    EXPECT_FALSE(Lv2Host(2e6).ok());
    EXPECT_TRUE(Lv2Host(8000.0).ok());
    EXPECT_TRUE(Lv2Host(1e6).ok());
}

// --- the same audio as the VST 2.4 build --------------------------------------

TEST_F(Lv2Bundle, SameBitsAsTheVstBuildBlockSizeByBlockSize)
{
    for (const Pair& pair : kPairs) {
        for (const int32_t blockSize : {1, 37, 512, 4096, 0}) {
            Lv2Host lv2;
            VstHost vst;
            ASSERT_TRUE(lv2.ok() && vst.ok());
            lv2.set(pair.port);
            vst.set(pair.vst);
            const Render a = lv2.render(inL, inR, blockSize);
            const Render b = vst.render(inL, inR, blockSize);
            EXPECT_TRUE(a.sameBits(b)) << pair.what << ", blocks of " << blockSize;
            EXPECT_GT(a.peak(), 1e-3) << pair.what;
        }
    }
}

TEST_F(Lv2Bundle, ChangesMidRunLandAtTheSameBlockAsInTheVstBuild)
{
    Lv2Host lv2;
    VstHost vst;
    ASSERT_TRUE(lv2.ok() && vst.ok());
    // A new setting every third block; the VST host is told only of the
    // parameters that changed, as automation does.
    const size_t count = std::size(kPairs);
    Settings vstNow = kPairs[0].vst;
    const Render a = lv2.render(inL, inR, 0, [&](size_t block) {
        if (block % 3 == 0) lv2.set(kPairs[(block / 3) % count].port);
    });
    const Render b = vst.render(inL, inR, 0, [&](size_t block) {
        if (block % 3 != 0) return;
        const Settings& next = kPairs[(block / 3) % count].vst;
        for (int32_t i = 0; i < kNumParams; ++i)
            if (next[i] != vstNow[i]) vst.setOne(i, next[i]);
        vstNow = next;
    });
    EXPECT_TRUE(a.sameBits(b));
}

TEST_F(Lv2Bundle, InPlaceBuffersGiveTheSameBits)
{
    for (const Pair& pair : kPairs) {
        Lv2Host apart;
        Lv2Host inPlace;
        apart.set(pair.port);
        inPlace.set(pair.port);
        const Render a = apart.render(inL, inR, 256);
        Render b{inL, inR};
        for (size_t offset = 0; offset < inL.size(); offset += 256) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(256, inL.size() - offset));
            inPlace.runBlock(&b.left[offset], &b.right[offset], &b.left[offset], &b.right[offset], n);
        }
        EXPECT_TRUE(a.sameBits(b)) << pair.what;
    }
}

TEST_F(Lv2Bundle, WildPortValuesAreClampedAndStayFinite)
{
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* what;
        Settings wild;
        Settings tame;
    };
    const Case cases[] = {
        {"beyond every range", {5, 100, -100, 7, 1e6f, -3, 9}, {1, 36, -24, 2, 350, 0.47f, 1}},
        {"infinities", {inf, inf, -inf, -inf, inf, inf, -inf}, {1, 36, -24, 0, 350, 22, 0}},
        {"not a number", {kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN}, {0, 12, 0, 0, 150, 0.47f, 0}},
        {"between entries", {0.2f, 12, 0, 1.4f, 260, 0.9f, 0.7f}, {1, 12, 0, 1, 250, 1, 1}},
    };
    for (const Case& c : cases) {
        Lv2Host wild;
        Lv2Host tame;
        wild.set(c.wild);
        tame.set(c.tame);
        const Render a = wild.render(inL, inR, 512);
        EXPECT_TRUE(a.finite()) << c.what;
        EXPECT_TRUE(a.sameBits(tame.render(inL, inR, 512))) << c.what;
    }
}

TEST_F(Lv2Bundle, ReactivationStartsAfresh)
{
    Lv2Host used;
    used.set(kPairs[1].port);
    used.render(inL, inR, 512);
    used.reactivate();
    Lv2Host fresh;
    fresh.set(kPairs[1].port);
    EXPECT_TRUE(used.render(inL, inR, 512).sameBits(fresh.render(inL, inR, 512)));
}

// --- latency --------------------------------------------------------------------

TEST_F(Lv2Bundle, LatencyFollowsOversampling)
{
    Lv2Host lv2;
    float out[64];
    const float* in = inL.data();
    // A run of no frames reports it, as hosts ask before they start.
    lv2.runBlock(in, in, out, out, 0);
    EXPECT_EQ(lv2.latency, 0.0f);
    lv2.controls[kParamOversample] = 1.0f;
    lv2.runBlock(in, in, out, out, 0);
    EXPECT_EQ(lv2.latency, static_cast<float>(kOversampledLatency));
    lv2.runBlock(in, in, out, out, 64);
    EXPECT_EQ(lv2.latency, 8.0f);
    lv2.controls[kParamOversample] = 0.0f;
    lv2.runBlock(in, in, out, out, 64);
    EXPECT_EQ(lv2.latency, 0.0f);
}

// --- the scope, over the atom output -----------------------------------------------

namespace {

// The scope points of the last run.
std::vector<ScopePoint> scopePoints(const Lv2Host& lv2)
{
    ScopeUrids ids;
    ids.map(urids().map);
    std::vector<ScopePoint> points;
    const LV2_Atom_Sequence* sequence = lv2.scopeSequence();
    LV2_ATOM_SEQUENCE_FOREACH (sequence, event) {
        ScopePoint got[kScopeRingSize];
        const int32_t n = readScopeBlock(ids, &event->body, sizeof(LV2_Atom) + event->body.size, got, kScopeRingSize);
        points.insert(points.end(), got, got + n);
    }
    return points;
}

}  // namespace

TEST_F(Lv2Bundle, TheScopeFeedsOnlyWhileAnEditorSaysItWatches)
{
    Lv2Host lv2;
    lv2.connectScope(9216);
    std::vector<float> outL(512), outR(512);
    auto run = [&](uint32_t frames) {
        lv2.runBlock(inL.data(), inR.data(), outL.data(), outR.data(), frames);
        return scopePoints(lv2).size();
    };
    EXPECT_EQ(run(512), 0u);  // nobody looks
    lv2.say(ScopeWord::Watch);
    EXPECT_GT(run(512), 0u);
    EXPECT_GT(run(512), 0u);  // the word holds until the next
    lv2.say(ScopeWord::Closed);
    EXPECT_EQ(run(512), 0u);
    EXPECT_EQ(run(512), 0u);
    // An editor that vanishes without a word: the feed stops after three
    // seconds of frames, and an editor that speaks again restarts it.
    lv2.say(ScopeWord::Watch);
    uint32_t frames = 0;
    while (run(512) > 0) {
        frames += 512;
        ASSERT_LE(frames, static_cast<uint32_t>(3.1 * kRate));
    }
    EXPECT_GE(frames, static_cast<uint32_t>(2.9 * kRate));
    lv2.say(ScopeWord::Watch);
    EXPECT_GT(run(512), 0u);
}

TEST_F(Lv2Bundle, ScopePointsReachTheAtomOutput)
{
    Lv2Host lv2;
    ScopeUrids ids;
    ASSERT_TRUE(ids.map(urids().map));
    lv2.connectScope(9216);
    lv2.say(ScopeWord::Watch);
    std::vector<float> outL(512), outR(512);
    for (int32_t block = 0; block < 3; ++block) {
        const size_t at = static_cast<size_t>(block) * 512;
        lv2.runBlock(&inL[at], &inR[at], outL.data(), outR.data(), 512);
        ASSERT_TRUE(lv2.guardIntact());

        const LV2_Atom_Sequence* sequence = lv2.scopeSequence();
        std::vector<ScopePoint> points;
        LV2_ATOM_SEQUENCE_FOREACH (sequence, event) {
            ScopePoint got[kScopeRingSize];
            const int32_t n =
                readScopeBlock(ids, &event->body, sizeof(LV2_Atom) + event->body.size, got, kScopeRingSize);
            points.insert(points.end(), got, got + n);
        }
        // Each point is one frame of this block: its inputs and outputs, in order.
        ASSERT_GE(points.size(), 512u / 4) << "block " << block;
        size_t frame = 0;
        for (const ScopePoint& p : points) {
            while (frame < 512 && !(p.inputLeft == inL[at + frame] && p.inputRight == inR[at + frame] &&
                                    p.outputLeft == outL[frame] && p.outputRight == outR[frame]))
                ++frame;
            ASSERT_LT(frame, 512u) << "a point that is no frame of block " << block;
            ++frame;
        }
    }

    // A port too small for the points takes what fits and nothing beyond;
    // an unconnected one is left alone.
    lv2.connectScope(256);
    lv2.runBlock(inL.data(), inR.data(), outL.data(), outR.data(), 512);
    EXPECT_TRUE(lv2.guardIntact());
    lv2.connectScope(0);
    lv2.runBlock(inL.data(), inR.data(), outL.data(), outR.data(), 512);
}

}  // namespace
