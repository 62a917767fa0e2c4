// z5r-jack against real JACK servers (jackd's dummy driver, synchronous,
// one server per test): its output equals z5r-render's bit for bit once
// lined up by the latency it reports, at 1x and 16x and across period
// changes; jack_iodelay measures that latency plus one period and jack_lsp
// shows it; it connects where it is told; it keeps its settings across
// runs; and it ends as its user expects when stopped, when the server goes
// away, when there is no server and when an option is wrong.
#include "JackTestSupport.h"

#include "engine/InstanceState.h"
#include "engine/ParameterInfo.h"
#include "jack/StateFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <signal.h>

using namespace jacktest;
namespace fs = std::filesystem;

namespace {

constexpr int32_t kRate = 48000;
constexpr int32_t kPeriod = 64;
// The engine's silence settles to the same state whatever came before
// after about a second; two seconds of it start both runs alike.
constexpr int32_t kPreroll = 2 * kRate;

float valueOf(const char* assignment)
{
    const std::string text = assignment;
    const size_t eq = text.find('=');
    const int32_t index = findParameter(text.substr(0, eq));
    float v = -1.0f;
    EXPECT_TRUE(parseParameterText(index, text.substr(eq + 1), v)) << text;
    return v;
}

class LiveJack : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = makeFolder();
        server = std::make_unique<JackServer>(folder, kPeriod);
        ASSERT_TRUE(server->ok()) << "jackd did not start:\n" << readFile(folder + "/jackd-1.err");
        look = server->open("z5r-test-look");
        ASSERT_NE(look, nullptr);
    }
    void TearDown() override
    {
        effect.reset();
        if (look) jack_client_close(look);
        server.reset();
        if (!HasFailure()) fs::remove_all(folder);
    }

    std::string statePath() const { return folder + "/config/state"; }

    // z5r-jack --no-gui with the arguments, once it says it plays.
    void startEffect(std::vector<std::string> args, const std::string& label = "z5r-jack")
    {
        args.insert(args.begin(), {buildFolder() + "/z5r-jack", "--no-gui", "--state", statePath()});
        effect = std::make_unique<Child>(args, std::vector<std::string>{server->environment()}, folder, label);
        ASSERT_TRUE(waitFor([this] { return !effect->running() || effect->out().find("playing") != std::string::npos; }));
        ASSERT_TRUE(effect->running()) << effect->err();
        EXPECT_EQ(effect->out(), "z5r-jack: playing as \"Korvane Z5R\" at 48000 Hz; press Ctrl-C to quit\n");
    }

    // Whether JACK comes to show `frames` of latency at our outputs behind
    // a source of none. A busy server drops a latency notification it times
    // out on and asks no more: the test asks again every few seconds, as
    // a host may.
    bool reports(int32_t frames)
    {
        int32_t polls = 0;
        return waitFor([&] {
            if (++polls % 300 == 0) jack_recompute_total_latencies(look);
            return latencyOf(look, effectPort("out_L"), JackCaptureLatency).max == static_cast<jack_nframes_t>(frames);
        });
    }

    bool portGone() const { return jack_port_by_name(look, effectPort("in_L").c_str()) == nullptr; }

    std::vector<std::string> connectionsOf(const char* port)
    {
        std::vector<std::string> names;
        jack_port_t* p = jack_port_by_name(look, effectPort(port).c_str());
        if (!p) return names;
        if (const char** all = jack_port_get_all_connections(look, p)) {
            for (const char** c = all; *c; ++c) names.push_back(*c);
            jack_free(all);
        }
        return names;
    }

    // Plays the test signal through the effect, changing the period to each
    // of `periods` in turn as the signal goes, and checks the recording
    // against z5r-render's output of the same input and settings.
    void playAndCompare(const std::vector<const char*>& settings, int32_t expectedLatency,
                        const std::vector<int32_t>& periods = {})
    {
        std::vector<std::string> args;
        for (const char* s : settings) args.insert(args.end(), {"--set", s});
        ASSERT_NO_FATAL_FAILURE(startEffect(args));
        const Signal signal = testSignal(3 * kRate, kRate);
        std::unique_ptr<Probe> made;
        for (int32_t attempt = 0; attempt < 3 && !(made && made->ok()); ++attempt)
            made = std::make_unique<Probe>(*server, signal, kPreroll);
        ASSERT_TRUE(made->ok());
        Probe& probe = *made;
        std::string error;
        ASSERT_TRUE(waitFor([&] { return probe.connectThrough(error); })) << error;

        // The latency JACK reports at our outputs, behind a source of none.
        ASSERT_TRUE(reports(expectedLatency)) << "reported " << latencyOf(look, effectPort("out_L"), JackCaptureLatency).max;
        const jack_latency_range_t reported = latencyOf(look, effectPort("out_L"), JackCaptureLatency);
        ASSERT_EQ(reported.min, reported.max);
        probe.arm(static_cast<int32_t>(reported.max));

        for (size_t i = 0; i < periods.size(); ++i) {
            const auto due = static_cast<int64_t>(signal.left.size() * (i + 1) / (periods.size() + 1));
            ASSERT_TRUE(waitFor([&] { return probe.played() >= due; })) << "the source stalled";
            Child bufsize({"jack_bufsize", std::to_string(periods[i])}, {server->environment()}, folder,
                          "jack_bufsize-" + std::to_string(i));
            ASSERT_EQ(bufsize.wait(), 0) << bufsize.err();
            ASSERT_TRUE(waitFor([&] { return jack_get_buffer_size(look) == static_cast<jack_nframes_t>(periods[i]); }));
        }
        ASSERT_TRUE(waitFor([&] { return probe.finished(); }, 600.0)) << "the recording never completed";
        if (probe.gaps() > 0) std::printf("JACK's frame time jumped %d times\n", probe.gaps());
        ASSERT_TRUE(effect->running()) << effect->err();

        // The same input through the plug-in by z5r-render: the preroll's
        // silence, the signal, and room for the latency.
        Signal input;
        input.left.assign(kPreroll, 0.0f);
        input.right.assign(kPreroll, 0.0f);
        input.left.insert(input.left.end(), signal.left.begin(), signal.left.end());
        input.right.insert(input.right.end(), signal.right.begin(), signal.right.end());
        input.left.resize(input.left.size() + 1024, 0.0f);
        input.right.resize(input.right.size() + 1024, 0.0f);
        ASSERT_TRUE(writeWav(folder + "/in.wav", input, kRate));
        std::vector<std::string> render = {buildFolder() + "/z5r-render", "-q", "-o", folder + "/out.wav"};
        for (const char* s : settings) {
            const std::string text = s;
            const int32_t index = findParameter(text.substr(0, text.find('=')));
            char value[32];
            std::snprintf(value, sizeof(value), "%.9g", static_cast<double>(valueOf(s)));
            render.insert(render.end(), {"--set", std::string(kParameterInfo[index].shortName) + "=" + value});
        }
        render.push_back(folder + "/in.wav");
        Child renderer(render, {}, folder, "z5r-render");
        ASSERT_EQ(renderer.wait(600.0), 0) << renderer.err();
        Signal rendered;
        ASSERT_TRUE(readWav(folder + "/out.wav", rendered));
        ASSERT_EQ(rendered.left.size(), input.left.size());

        const std::vector<float>* got[2] = {&probe.recordedLeft(), &probe.recordedRight()};
        const std::vector<float>* want[2] = {&rendered.left, &rendered.right};
        for (int32_t channel = 0; channel < 2; ++channel) {
            int64_t differ = 0, first = -1;
            for (size_t k = 0; k < signal.left.size(); ++k)
                if (std::bit_cast<uint32_t>((*got[channel])[k]) !=
                    std::bit_cast<uint32_t>((*want[channel])[kPreroll + k])) {
                    if (first < 0) first = static_cast<int64_t>(k);
                    ++differ;
                }
            EXPECT_EQ(differ, 0) << "channel " << channel << ": " << differ << " samples differ, the first at frame "
                                 << first << " (" << (*got[channel])[first < 0 ? 0 : first] << " against "
                                 << (*want[channel])[kPreroll + (first < 0 ? 0 : first)] << ")";
        }
        // And the sound is not silence.
        float peak = 0.0f;
        for (float v : probe.recordedLeft()) peak = std::max(peak, std::fabs(v));
        EXPECT_GT(peak, 0.01f);
    }

    // The "total roundtrip latency" figures jack_iodelay printed so far.
    static std::vector<double> roundTrips(const std::string& text)
    {
        std::vector<double> frames;
        static const std::regex line(R"(([0-9.]+) frames\s+[0-9.]+ ms total roundtrip latency)");
        for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
            frames.push_back(std::stod((*it)[1]));
        return frames;
    }

    // The latency jack_lsp -l prints for one of our ports.
    std::string lspLatency(const char* port, const char* which)
    {
        Child lsp({"jack_lsp", "-l", effectPort(port)}, {server->environment()}, folder, "jack_lsp");
        EXPECT_EQ(lsp.wait(), 0);
        const std::string text = lsp.out();
        const std::string head = effectPort(port) + "\n";
        const size_t at = text.find(head);
        if (at == std::string::npos) return "(port not listed)";
        const std::regex range(std::string("port ") + which + R"( latency = \[ ([0-9]+) ([0-9]+) \])");
        std::smatch m;
        const std::string block = text.substr(at + head.size());
        if (!std::regex_search(block, m, range)) return "(no range)";
        return m[1].str() + " " + m[2].str();
    }

    void measureRoundTrip(const char* oversampling, int32_t latency)
    {
        ASSERT_NO_FATAL_FAILURE(startEffect({"--set", oversampling, "--set", "Gain=6"}));
        Child iodelay({"stdbuf", "-oL", "jack_iodelay"}, {server->environment()}, folder, "jack_iodelay");
        std::string error;
        auto wire = [this] {
            return jack_connect(look, "jack_delay:out", effectPort("in_L").c_str()) == 0 &&
                   jack_connect(look, effectPort("out_L").c_str(), "jack_delay:in") == 0;
        };
        ASSERT_TRUE(waitFor(wire)) << iodelay.err();
        // Five readings in a row that agree to a hundredth of a frame.
        std::vector<double> seen;
        const bool steady = waitFor(
            [&] {
                seen = roundTrips(iodelay.out());
                if (seen.size() < 5) return false;
                return std::all_of(seen.end() - 5, seen.end(), [&](double v) { return std::fabs(v - seen.back()) < 0.01; });
            },
            300.0);
        ASSERT_TRUE(steady) << "jack_iodelay printed:\n" << iodelay.out();
        EXPECT_NEAR(seen.back(), kPeriod + latency, 0.5) << iodelay.out();
        std::printf("jack_iodelay through the effect, latency %d: %.3f frames\n", latency, seen.back());

        const std::string both = std::to_string(latency) + " " + std::to_string(latency);
        EXPECT_EQ(lspLatency("out_L", "capture"), both);
        EXPECT_EQ(lspLatency("in_L", "playback"), both);
        EXPECT_EQ(lspLatency("out_R", "capture"), both);
    }

    std::string folder;
    std::unique_ptr<JackServer> server;
    std::unique_ptr<Child> effect;
    jack_client_t* look = nullptr;
};

InstanceState stateIn(const std::string& path)
{
    const jackapp::LoadedState loaded = jackapp::loadStateFile(path);
    EXPECT_EQ(loaded.status, jackapp::LoadedState::Loaded) << path;
    return loaded.state;
}

}  // namespace

TEST_F(LiveJack, OutputEqualsTheRenderAt1x) { playAndCompare({"Gain=24", "Voltage=250"}, 0); }

TEST_F(LiveJack, OutputEqualsTheRenderAt16x) { playAndCompare({"Oversmpl=16", "Gain=30", "Triode=12AT7"}, 8); }

TEST_F(LiveJack, PeriodChangesKeepTheOutputRight)
{
    playAndCompare({"Oversmpl=16", "Gain=20", "Normaliz=On"}, 8, {128, 256, 32, 64});
}

TEST_F(LiveJack, IodelayMeasuresOnePeriodAt1x) { measureRoundTrip("Oversmpl=1", 0); }

TEST_F(LiveJack, IodelayMeasuresOnePeriodPlusEightAt16x) { measureRoundTrip("Oversmpl=16", 8); }

TEST_F(LiveJack, ConnectsWhereItIsTold)
{
    ASSERT_NO_FATAL_FAILURE(startEffect({"--auto-connect"}));
    ASSERT_TRUE(waitFor([&] { return connectionsOf("out_R").size() == 1; }));
    EXPECT_EQ(connectionsOf("in_L"), std::vector<std::string>{"system:capture_1"});
    EXPECT_EQ(connectionsOf("in_R"), std::vector<std::string>{"system:capture_1"});
    EXPECT_EQ(connectionsOf("out_L"), std::vector<std::string>{"system:playback_1"});
    EXPECT_EQ(connectionsOf("out_R"), std::vector<std::string>{"system:playback_2"});
    effect->signal(SIGTERM);
    ASSERT_EQ(effect->wait(), 0) << effect->err();
    ASSERT_TRUE(waitFor([&] { return portGone(); }));

    ASSERT_NO_FATAL_FAILURE(startEffect({"--connect", "in_R=system:capture_2", "--connect", "out_L=system:playback_2"},
                                        "z5r-jack-2"));
    ASSERT_TRUE(waitFor([&] { return connectionsOf("out_L").size() == 1; }));
    EXPECT_EQ(connectionsOf("in_R"), std::vector<std::string>{"system:capture_2"});
    EXPECT_EQ(connectionsOf("out_L"), std::vector<std::string>{"system:playback_2"});
    EXPECT_TRUE(connectionsOf("in_L").empty());
    effect->signal(SIGTERM);
    ASSERT_EQ(effect->wait(), 0) << effect->err();
    ASSERT_TRUE(waitFor([&] { return portGone(); }));

    // A port that is not there: one line, status 1, and no settings written.
    fs::remove(statePath());
    Child missing({buildFolder() + "/z5r-jack", "--no-gui", "--state", statePath(), "--connect", "in_L=nobody:out"},
                  {server->environment()}, folder, "z5r-jack-3");
    EXPECT_EQ(missing.wait(), 1);
    EXPECT_EQ(lineCount(missing.err()), 1) << missing.err();
    EXPECT_NE(missing.err().find("nobody:out"), std::string::npos) << missing.err();
    EXPECT_FALSE(fs::exists(statePath()));
}

TEST_F(LiveJack, StoppingTheServerEndsItWithItsSettingsSaved)
{
    ASSERT_NO_FATAL_FAILURE(startEffect({"--set", "Gain=30", "--set", "Cap=22uF"}));
    server->stop();
    EXPECT_EQ(effect->wait(), 1);
    const std::string err = effect->err();
    EXPECT_EQ(lineCount(err), 1) << err;
    EXPECT_NE(err.find("JACK server went away"), std::string::npos) << err;
    const InstanceState saved = stateIn(statePath());
    EXPECT_EQ(saved.values[kParamGain], valueOf("Gain=30"));
    EXPECT_EQ(saved.values[kParamCap], valueOf("Cap=22uF"));
}

TEST_F(LiveJack, SignalsEndItCleanlyAndTheNextRunStartsWhereItEnded)
{
    ASSERT_NO_FATAL_FAILURE(startEffect({"--program", "1", "--set", "Oversmpl=16"}));
    effect->signal(SIGINT);
    EXPECT_EQ(effect->wait(), 0);
    EXPECT_EQ(effect->err(), "");
    EXPECT_TRUE(waitFor([&] { return portGone(); }));
    const InstanceState first = stateIn(statePath());
    EXPECT_EQ(first.bank.current, 1);
    EXPECT_EQ(latencyFor(first.values[kParamOversample]), kOversampledLatency);
    EXPECT_EQ(first.values[kParamTriode], kFactoryPrograms[1].values[kParamTriode]);

    // Nothing on the command line: the saved 16x shows as its latency.
    ASSERT_NO_FATAL_FAILURE(startEffect({}, "z5r-jack-2"));
    EXPECT_TRUE(reports(8));
    effect->signal(SIGTERM);
    EXPECT_EQ(effect->wait(), 0);
    EXPECT_EQ(effect->err(), "");
    EXPECT_TRUE(waitFor([&] { return portGone(); }));

    // A damaged file: said in one line, kept aside, the defaults used and saved.
    std::ofstream(statePath(), std::ios::binary | std::ios::trunc) << "not a state";
    ASSERT_NO_FATAL_FAILURE(startEffect({}, "z5r-jack-3"));
    EXPECT_TRUE(reports(0));
    effect->signal(SIGTERM);
    EXPECT_EQ(effect->wait(), 0);
    EXPECT_EQ(lineCount(effect->err()), 1) << effect->err();
    EXPECT_NE(effect->err().find("damaged"), std::string::npos) << effect->err();
    EXPECT_EQ(readFile(statePath() + ".damaged"), "not a state");
    EXPECT_EQ(stateIn(statePath()).bank.current, 0);
}

TEST(JackFaults, NoServerAndBadOptionsGetOneLine)
{
    const std::string folder = makeFolder();
    const std::string program = buildFolder() + "/z5r-jack";
    Child none({program, "--no-gui", "--state", folder + "/state"},
               {"JACK_DEFAULT_SERVER=z5r-test-nobody-" + std::to_string(getpid())}, folder, "none");
    EXPECT_EQ(none.wait(), 1);
    EXPECT_EQ(lineCount(none.err()), 1) << none.err();
    EXPECT_NE(none.err().find("jackd"), std::string::npos) << none.err();

    for (const char* bad : {"--frobnicate", "--set=Gain=loud", "--program=9"}) {
        Child wrong({program, bad}, {}, folder, "wrong");
        EXPECT_EQ(wrong.wait(), 2) << bad;
        EXPECT_EQ(lineCount(wrong.err()), 1) << wrong.err();
        EXPECT_EQ(wrong.out(), "");
    }
    Child help({program, "--help"}, {}, folder, "help");
    EXPECT_EQ(help.wait(), 0);
    EXPECT_NE(help.out().find("--auto-connect"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder + "/state"));
    fs::remove_all(folder);
}
