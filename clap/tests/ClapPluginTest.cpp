// The CLAP plug-in's host contract, through its exported entry as a host
// loads it: who it is, its ports and parameters, flush without processing,
// saved state with short, failing and garbage streams, latency changes
// before and during activation, and the factory programs as presets.
#include "TestHost.h"
#include "clap/ClapEffect.h"
#include "engine/InstanceState.h"
#include "engine/ParameterInfo.h"
#include "engine/Product.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(ClapEntry, OneEffectWithItsIdentityAndFeatures)
{
    const clap_plugin_entry_t* entry = clapEntry();
    ASSERT_NE(entry, nullptr) << "cannot load " Z5R_CLAP_FILE;
    EXPECT_TRUE(clap_version_is_compatible(entry->clap_version));
    EXPECT_EQ(entry->get_factory("no.such.factory"), nullptr);
    const auto* factory = clapFactory<clap_plugin_factory_t>(CLAP_PLUGIN_FACTORY_ID);
    ASSERT_NE(factory, nullptr);
    ASSERT_EQ(factory->get_plugin_count(factory), 1u);
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 1), nullptr);
    const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
    EXPECT_STREQ(d->id, "example.qmv.korvane-z5r");
    EXPECT_STREQ(d->name, "Korvane Z5R");
    EXPECT_STREQ(d->vendor, "QMV");
    EXPECT_STREQ(d->version, "1.0.6");
    std::set<std::string> features;
    for (const char* const* f = d->features; *f; ++f) features.insert(*f);
    EXPECT_EQ(features, (std::set<std::string>{"audio-effect", "distortion", "stereo", "mono"}));

    // Only our ID, and only a host of a compatible CLAP.
    clap_host_t host{CLAP_VERSION_INIT, nullptr, "h", "v", "", "1", nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(factory->create_plugin(factory, &host, "example.qmv.other"), nullptr);
    host.clap_version = {0, 9, 0};
    EXPECT_EQ(factory->create_plugin(factory, &host, d->id), nullptr);
    // A host that offers no extension at all still gets a working instance.
    host.clap_version = CLAP_VERSION;
    host.get_extension = [](const clap_host_t*, const char*) -> const void* { return nullptr; };
    host.request_restart = [](const clap_host_t*) {};
    const clap_plugin_t* bare = factory->create_plugin(factory, &host, d->id);
    ASSERT_NE(bare, nullptr);
    EXPECT_TRUE(bare->init(bare));
    const auto* params = static_cast<const clap_plugin_params_t*>(bare->get_extension(bare, CLAP_EXT_PARAMS));
    static const clap_input_events_t none{nullptr, [](const clap_input_events_t*) { return 0u; },
                                          [](const clap_input_events_t*, uint32_t) {
                                              return static_cast<const clap_event_header_t*>(nullptr);
                                          }};
    params->flush(bare, &none, nullptr);
    EXPECT_TRUE(bare->activate(bare, 48000.0, 1, 512));
    bare->deactivate(bare);
    bare->destroy(bare);
}

TEST(ClapPorts, OneStereoMainInAndOut)
{
    TestHost host;
    ASSERT_TRUE(host.ok());
    for (bool input : {true, false}) {
        ASSERT_EQ(host.ports->count(host.plugin, input), 1u);
        clap_audio_port_info_t info{};
        ASSERT_TRUE(host.ports->get(host.plugin, 0, input, &info));
        EXPECT_EQ(info.channel_count, 2u);
        EXPECT_STREQ(info.port_type, CLAP_PORT_STEREO);
        EXPECT_TRUE(info.flags & CLAP_AUDIO_PORT_IS_MAIN);
        EXPECT_FALSE(host.ports->get(host.plugin, 1, input, &info));
    }
}

TEST(ClapParams, InfoFollowsTheParameterTable)
{
    TestHost host;
    ASSERT_TRUE(host.ok());
    ASSERT_EQ(host.params->count(host.plugin), static_cast<uint32_t>(kNumParams));
    for (int32_t i = 0; i < kNumParams; ++i) {
        SCOPED_TRACE(kParameterInfo[i].name);
        clap_param_info_t info{};
        ASSERT_TRUE(host.params->get_info(host.plugin, static_cast<uint32_t>(i), &info));
        EXPECT_EQ(info.id, static_cast<clap_id>(i));
        EXPECT_STREQ(info.name, kParameterInfo[i].name);
        EXPECT_FALSE(info.flags & CLAP_PARAM_IS_BYPASS);
        const bool stepped = kParameterInfo[i].kind != ParamKind::Continuous;
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_STEPPED) != 0, stepped);
        EXPECT_EQ(info.max_value - info.min_value, stepped ? kParameterInfo[i].stepCount : 48.0);
        if (!stepped) {
            EXPECT_EQ(info.min_value, kParameterInfo[i].minimum);
            EXPECT_EQ(info.max_value, kParameterInfo[i].maximum);
            EXPECT_EQ(info.default_value, kParameterInfo[i].defaultPhysical);
        }
        EXPECT_EQ(host.value(info.id), info.default_value);
    }
    clap_param_info_t info{};
    EXPECT_FALSE(host.params->get_info(host.plugin, kNumParams, &info));
    double v;
    EXPECT_FALSE(host.params->get_value(host.plugin, kNumParams, &v));
}

TEST(ClapParams, TextsAreTheVst24TextsBothWays)
{
    TestHost host;
    ASSERT_TRUE(host.ok());
    char text[64];
    auto toText = [&](clap_id id, double value) {
        text[0] = '\0';
        return host.params->value_to_text(host.plugin, id, value, text, sizeof(text)) ? std::string(text) : "(false)";
    };
    EXPECT_EQ(toText(kParamGain, 24.0), "24.00");
    EXPECT_EQ(toText(kParamOversample, 1.0), "16");
    EXPECT_EQ(toText(kParamOversample, 0.0), "1");
    EXPECT_EQ(toText(kParamTriode, 1.0), "12AT7");
    EXPECT_EQ(toText(kParamGain, NAN), "(false)");
    EXPECT_EQ(toText(kNumParams, 0.0), "(false)");
    // Every value's text reads back as the same value.
    for (int32_t i = 0; i < kNumParams; ++i)
        for (float n : {0.0f, 0.37f, 0.5f, 0.8f, 1.0f}) {
            const double value = clapValueFromNormalized(i, n);
            double back = -1.0;
            const std::string shown = toText(static_cast<clap_id>(i), value);
            ASSERT_TRUE(host.params->text_to_value(host.plugin, i, shown.c_str(), &back)) << shown;
            EXPECT_NEAR(back, value, 0.01) << kParameterInfo[i].name << " " << shown;
        }
    double value = -1.0;
    EXPECT_TRUE(host.params->text_to_value(host.plugin, kParamCap, "22 \xC2\xB5" "F", &value));
    EXPECT_EQ(value, 2.0);
    EXPECT_TRUE(host.params->text_to_value(host.plugin, kParamGain, "+24 dB", &value));
    EXPECT_EQ(value, 24.0);
    value = -5.0;
    EXPECT_FALSE(host.params->text_to_value(host.plugin, kParamGain, "loud", &value));
    EXPECT_FALSE(host.params->text_to_value(host.plugin, kNumParams, "1", &value));
    EXPECT_EQ(value, -5.0);
}

TEST(ClapParams, FlushWithoutProcessingSetsValuesAndTellsTheLatency)
{
    TestHost host;
    ASSERT_TRUE(host.ok());
    EventList events;
    events.value(0, kParamGain, 26.4);
    events.value(0, kParamVoltage, 1.0);
    events.gesture(0, kParamLevel, true);                 // not a value: ignored
    events.value(0, kNumParams, 1.0);                     // no such parameter
    events.value(0, kParamLevel, std::nan(""));           // no value
    events.value(0, kParamCap, 7.0);                      // clamps to the last entry
    events.value(0, kParamOversample, 1.0);
    host.flush(&events, nullptr);
    EXPECT_EQ(host.value(kParamGain), 26.4);
    EXPECT_EQ(host.value(kParamVoltage), 1.0);
    EXPECT_EQ(host.value(kParamLevel), 0.0);
    EXPECT_EQ(host.value(kParamCap), 2.0);
    // Deactivated, the latency is told at once.
    EXPECT_EQ(host.latency->get(host.plugin), 8u);
    EXPECT_EQ(host.latencyChanges.load(), 1);
    EXPECT_EQ(host.restartRequests.load(), 0);
    host.set(kParamOversample, 1.0);
    EXPECT_EQ(host.latencyChanges.load(), 1);
}

TEST(ClapLatency, AChangeWhileActiveWaitsForARestart)
{
    TestHost host;
    ASSERT_TRUE(host.ok());
    ASSERT_TRUE(host.activate(48000.0));
    EXPECT_EQ(host.latency->get(host.plugin), 0u);
    std::vector<float> in(64, 0.1f), outL(64), outR(64);
    EventList events;
    events.value(10, kParamOversample, 1.0);
    host.process(in.data(), in.data(), outL.data(), outR.data(), 64, &events);
    EXPECT_EQ(host.restartRequests.load(), 1);
    EXPECT_EQ(host.latencyChanges.load(), 0);
    EXPECT_EQ(host.latency->get(host.plugin), 0u);  // until the restart
    // More blocks and flushes ask no more.
    host.process(in.data(), in.data(), outL.data(), outR.data(), 64);
    host.flush(nullptr, nullptr);
    EXPECT_EQ(host.restartRequests.load(), 1);
    host.deactivate();
    ASSERT_TRUE(host.activate(48000.0));
    EXPECT_EQ(host.latencyChanges.load(), 1);  // told while activating
    EXPECT_EQ(host.latency->get(host.plugin), 8u);
    // Back and forth before the restart: nothing to tell at the next one.
    host.set(kParamOversample, 0.0);
    host.set(kParamOversample, 1.0);
    EXPECT_EQ(host.restartRequests.load(), 2);
    host.deactivate();
    ASSERT_TRUE(host.activate(48000.0));
    EXPECT_EQ(host.latencyChanges.load(), 1);
    host.deactivate();
    EXPECT_FALSE(host.activate(0.0));
    EXPECT_FALSE(host.activate(std::nan("")));
}

std::vector<uint8_t> saved(TestHost& host)
{
    ByteStream stream;
    EXPECT_TRUE(host.state->save(host.plugin, &stream.out));
    return stream.data;
}

TEST(ClapState, RoundTripsThroughShortStreams)
{
    TestHost a;
    ASSERT_TRUE(a.ok());
    a.set(kParamGain, 30.0);
    a.set(kParamTriode, 2.0);
    ASSERT_TRUE(a.presetLoad->from_location(a.plugin, kClapPresetLocationPlugin, nullptr, "2"));
    a.set(kParamLevel, -3.5);
    ByteStream out;
    out.chunk = 7;  // a stream that takes seven bytes a call
    ASSERT_TRUE(a.state->save(a.plugin, &out.out));
    ASSERT_EQ(out.data.size(), kInstanceStateSize);

    TestHost b;
    ASSERT_TRUE(b.ok());
    ByteStream in;
    in.data = out.data;
    in.chunk = 5;
    ASSERT_TRUE(b.state->load(b.plugin, &in.in));
    for (clap_id i = 0; i < kNumParams; ++i) EXPECT_EQ(b.value(i), a.value(i)) << i;
    EXPECT_EQ(saved(b), out.data);
    EXPECT_GE(b.rescans.load(), 1);
    EXPECT_TRUE(b.rescanFlags.load() & CLAP_PARAM_RESCAN_VALUES);
    EXPECT_EQ(b.latencyChanges.load(), 1);  // Moderate runs at 16x
}

TEST(ClapState, FailingGarbageAndCutStreamsChangeNothing)
{
    TestHost host;
    ASSERT_TRUE(host.ok());
    host.set(kParamGain, 6.0);
    const std::vector<uint8_t> before = saved(host);
    std::vector<std::vector<uint8_t>> bad = {
        {},
        std::vector<uint8_t>(before.begin(), before.end() - 1),
        std::vector<uint8_t>(kInstanceStateSize, 0xAB),
    };
    std::vector<uint8_t> longer = before;
    longer.push_back(0);
    bad.push_back(longer);
    std::vector<uint8_t> wrongVersion = before;
    wrongVersion[4] = 99;
    bad.push_back(wrongVersion);
    std::vector<uint8_t> notFinite = before;
    for (int k = 0; k < 4; ++k) notFinite[8 + 4 * kParamGain + k] = 0xFF;
    bad.push_back(notFinite);
    for (size_t i = 0; i < bad.size(); ++i) {
        ByteStream in;
        in.data = bad[i];
        EXPECT_FALSE(host.state->load(host.plugin, &in.in)) << i;
    }
    ByteStream failing;
    failing.data = before;
    failing.failAfter = 100;
    failing.chunk = 60;
    EXPECT_FALSE(host.state->load(host.plugin, &failing.in));
    EXPECT_EQ(saved(host), before);
    EXPECT_EQ(host.value(kParamGain), 6.0);
    EXPECT_EQ(host.rescans.load(), 0);

    // A stream that fails while taking the state: the save says so.
    ByteStream full;
    full.failAfter = 200;
    full.chunk = 64;
    EXPECT_FALSE(host.state->save(host.plugin, &full.out));
    EXPECT_FALSE(host.state->load(host.plugin, nullptr));
    EXPECT_FALSE(host.state->save(host.plugin, nullptr));
}

// A preset indexer that records what the provider declares and reports.
struct Indexer {
    std::vector<ClapPresetLocation> locations;
    struct Preset {
        std::string name, key, pluginAbi, pluginId;
        uint32_t flags = 0;
    };
    std::vector<Preset> presets;
    int32_t stopAfter = 1000;

    ClapPresetIndexer record{CLAP_VERSION_INIT, "test indexer", "QMV", "", "1", this,
                             [](const ClapPresetIndexer*, const ClapPresetFiletype*) { return true; },
                             [](const ClapPresetIndexer* i, const ClapPresetLocation* l) {
                                 static_cast<Indexer*>(i->indexer_data)->locations.push_back(*l);
                                 return true;
                             },
                             [](const ClapPresetIndexer*, const ClapPresetSoundpack*) { return true; },
                             [](const ClapPresetIndexer*, const char*) -> const void* { return nullptr; }};
    ClapPresetMetadataReceiver receiver{
        this,
        [](const ClapPresetMetadataReceiver*, int32_t, const char*) {},
        [](const ClapPresetMetadataReceiver* r, const char* name, const char* key) {
            auto* self = static_cast<Indexer*>(r->receiver_data);
            if (static_cast<int32_t>(self->presets.size()) >= self->stopAfter) return false;
            self->presets.push_back({name, key, "", "", 0});
            return true;
        },
        [](const ClapPresetMetadataReceiver* r, const ClapUniversalPluginId* id) {
            auto& p = static_cast<Indexer*>(r->receiver_data)->presets.back();
            p.pluginAbi = id->abi;
            p.pluginId = id->id;
        },
        [](const ClapPresetMetadataReceiver*, const char*) {},
        [](const ClapPresetMetadataReceiver* r, uint32_t flags) {
            static_cast<Indexer*>(r->receiver_data)->presets.back().flags = flags;
        },
        [](const ClapPresetMetadataReceiver*, const char*) {},
        [](const ClapPresetMetadataReceiver*, const char*) {},
        [](const ClapPresetMetadataReceiver*, ClapTimestamp, ClapTimestamp) {},
        [](const ClapPresetMetadataReceiver*, const char*) {},
        [](const ClapPresetMetadataReceiver*, const char*, const char*) {}};
};

TEST(ClapPresets, DiscoveryListsTheFactoryProgramsInsideThePlugin)
{
    for (const char* id : {kClapPresetDiscoveryFactoryId, kClapPresetDiscoveryFactoryIdCompat}) {
        const auto* factory = clapFactory<ClapPresetDiscoveryFactory>(id);
        ASSERT_NE(factory, nullptr) << id;
        ASSERT_EQ(factory->count(factory), 1u);
        const ClapPresetProviderDescriptor* d = factory->get_descriptor(factory, 0);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(factory->get_descriptor(factory, 1), nullptr);
        Indexer indexer;
        EXPECT_EQ(factory->create(factory, &indexer.record, "no.such.provider"), nullptr);
        const ClapPresetProvider* provider = factory->create(factory, &indexer.record, d->id);
        ASSERT_NE(provider, nullptr);
        ASSERT_TRUE(provider->init(provider));
        ASSERT_EQ(indexer.locations.size(), 1u);
        EXPECT_EQ(indexer.locations[0].kind, kClapPresetLocationPlugin);
        EXPECT_EQ(indexer.locations[0].location, nullptr);
        EXPECT_TRUE(indexer.locations[0].flags & kClapPresetIsFactoryContent);
        EXPECT_FALSE(provider->get_metadata(provider, kClapPresetLocationFile, "/tmp/x", &indexer.receiver));
        ASSERT_TRUE(provider->get_metadata(provider, kClapPresetLocationPlugin, nullptr, &indexer.receiver));
        ASSERT_EQ(indexer.presets.size(), static_cast<size_t>(kNumPrograms));
        for (int32_t p = 0; p < kNumPrograms; ++p) {
            EXPECT_EQ(indexer.presets[p].name, kFactoryPrograms[p].name);
            EXPECT_EQ(indexer.presets[p].key, std::to_string(p));
            EXPECT_EQ(indexer.presets[p].pluginAbi, "clap");
            EXPECT_EQ(indexer.presets[p].pluginId, product::kClapId);
        }
        EXPECT_EQ(indexer.presets[3].name, "Maximum Overdrive");
        // A receiver that has heard enough is heard.
        Indexer brief;
        brief.stopAfter = 2;
        EXPECT_TRUE(provider->get_metadata(provider, kClapPresetLocationPlugin, nullptr, &brief.receiver));
        EXPECT_EQ(brief.presets.size(), 2u);
        provider->destroy(provider);
    }
}

TEST(ClapPresets, LoadSelectsTheProgramAndTellsTheHost)
{
    TestHost host;
    ASSERT_TRUE(host.ok());
    ASSERT_NE(host.presetLoad, nullptr);
    ASSERT_TRUE(host.presetLoad->from_location(host.plugin, kClapPresetLocationPlugin, nullptr, "3"));
    for (int32_t i = 0; i < kNumParams; ++i)
        EXPECT_EQ(host.value(i), clapValueFromNormalized(i, kFactoryPrograms[3].values[i])) << i;
    EXPECT_EQ(host.presetsLoaded, std::vector<std::string>{"3"});
    EXPECT_TRUE(host.rescanFlags.load() & CLAP_PARAM_RESCAN_VALUES);
    EXPECT_EQ(host.latencyChanges.load(), 1);
    // The program in force loaded again drops the edits since.
    host.set(kParamGain, -5.0);
    ASSERT_TRUE(host.presetLoad->from_location(host.plugin, kClapPresetLocationPlugin, nullptr, "3"));
    EXPECT_EQ(host.value(kParamGain), clapValueFromNormalized(kParamGain, kFactoryPrograms[3].values[kParamGain]));
    // Keys that name no program, and locations that are not ours.
    for (const char* key : {"8", "-1", "", "33", "x"})
        EXPECT_FALSE(host.presetLoad->from_location(host.plugin, kClapPresetLocationPlugin, nullptr, key)) << key;
    EXPECT_FALSE(host.presetLoad->from_location(host.plugin, kClapPresetLocationPlugin, nullptr, nullptr));
    EXPECT_FALSE(host.presetLoad->from_location(host.plugin, kClapPresetLocationFile, "/tmp/3", "3"));
    EXPECT_EQ(host.presetErrors.size(), 7u);
    EXPECT_EQ(host.value(kParamOversample), 1.0);
    // Smooth stores 2.0 for its last entries; the host still sees values
    // within each parameter's range.
    ASSERT_TRUE(host.presetLoad->from_location(host.plugin, kClapPresetLocationPlugin, nullptr, "1"));
    for (clap_id i = 0; i < static_cast<clap_id>(kNumParams); ++i) {
        clap_param_info_t info{};
        ASSERT_TRUE(host.params->get_info(host.plugin, i, &info));
        EXPECT_GE(host.value(i), info.min_value) << i;
        EXPECT_LE(host.value(i), info.max_value) << i;
    }
    // A restored state may hold any finite value: the host gets the end of
    // the range it lies beyond.
    for (int32_t i = 0; i < kNumParams; ++i) {
        EXPECT_EQ(clapValueFromNormalized(i, 5.0f), clapValueFromNormalized(i, 1.0f)) << i;
        EXPECT_EQ(clapValueFromNormalized(i, -1e-35f), clapValueFromNormalized(i, 0.0f)) << i;
    }
}

}  // namespace
