// z5r-jack's command line: what each option stores, and a one-line refusal
// for everything it cannot mean.
#include "engine/ParameterInfo.h"
#include "jack/Options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

using namespace jackapp;

namespace {

ParseResult parse(std::initializer_list<const char*> args)
{
    const std::vector<const char*> list(args);
    return parseOptions(list);
}

float valueOf(int32_t index, const char* text)
{
    float v = -1.0f;
    EXPECT_TRUE(parseParameterText(index, text, v)) << text;
    return v;
}

}  // namespace

TEST(JackOptions, NothingGivenMeansTheWindowAndNoConnections)
{
    const ParseResult r = parse({});
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.options.gui);
    EXPECT_FALSE(r.options.autoConnect);
    EXPECT_FALSE(r.options.help);
    EXPECT_TRUE(r.options.links.empty());
    EXPECT_FALSE(r.options.program);
    EXPECT_TRUE(r.options.settings.empty());
    EXPECT_TRUE(r.options.statePath.empty());
}

TEST(JackOptions, EveryOptionStoresWhatItSays)
{
    const ParseResult r = parse({"--no-gui", "--program", "3", "--set", "Gain=24", "--set=Triode=12AT7",
                                 "--set", "voltage=350 V", "--set", "Oversmpl=16", "--state", "/tmp/s",
                                 "--connect", "in_L=system:capture_1", "--connect=out_R=other:in put"});
    ASSERT_TRUE(r.ok()) << r.error;
    const Options& o = r.options;
    EXPECT_FALSE(o.gui);
    EXPECT_EQ(o.program, 3);
    EXPECT_EQ(o.statePath, "/tmp/s");
    ASSERT_EQ(o.settings.size(), 4u);
    EXPECT_EQ(o.settings[0].index, kParamGain);
    EXPECT_EQ(o.settings[0].value, 0.75f);  // 24 dB is exactly the VST 2.4 value 0.75
    EXPECT_EQ(o.settings[1].index, kParamTriode);
    EXPECT_EQ(o.settings[1].value, valueOf(kParamTriode, "12AT7"));
    EXPECT_EQ(o.settings[2].index, kParamVoltage);
    EXPECT_EQ(choiceEntry(kParamVoltage, o.settings[2].value), 2);
    EXPECT_EQ(o.settings[3].index, kParamOversample);
    EXPECT_EQ(latencyFor(o.settings[3].value), kOversampledLatency);
    ASSERT_EQ(o.links.size(), 2u);
    EXPECT_EQ(o.links[0].ours, "in_L");
    EXPECT_EQ(o.links[0].other, "system:capture_1");
    EXPECT_EQ(o.links[1].ours, "out_R");
    EXPECT_EQ(o.links[1].other, "other:in put");  // the rest of the text, '=' and spaces as given

    const ParseResult a = parse({"--auto-connect", "--help"});
    ASSERT_TRUE(a.ok());
    EXPECT_TRUE(a.options.autoConnect);
    EXPECT_TRUE(a.options.help);
}

TEST(JackOptions, SettingsKeepTheirOrderSoTheLastOfOneParameterWins)
{
    const ParseResult r = parse({"--set", "Level=-6", "--set", "Level=+6dB"});
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.options.settings.size(), 2u);
    EXPECT_LT(r.options.settings[0].value, r.options.settings[1].value);
    EXPECT_EQ(r.options.settings[1].value, valueOf(kParamLevel, "6"));
}

TEST(JackOptions, BadArgumentsGetOneLineNamingTheTrouble)
{
    const struct {
        std::vector<const char*> args;
        const char* mentions;
    } cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"-x"}, "-x"},
        {{"stray"}, "stray"},
        {{"--program"}, "--program"},
        {{"--program", "8"}, "'8'"},
        {{"--program", "-1"}, "'-1'"},
        {{"--program", "2x"}, "'2x'"},
        {{"--program", ""}, "--program"},
        {{"--set"}, "--set"},
        {{"--set", "Gain"}, "NAME=VALUE"},
        {{"--set", "Fuzz=3"}, "'Fuzz'"},
        {{"--set", "=3"}, "''"},
        {{"--set", "Triode=12AY7"}, "'12AY7'"},
        {{"--set", "Gain=loud"}, "'loud'"},
        {{"--set", "Gain="}, "''"},
        {{"--connect", "in_L"}, "'in_L'"},
        {{"--connect", "in_X=a:b"}, "'in_X=a:b'"},
        {{"--connect", "in_L="}, "'in_L='"},
        {{"--state", ""}, "--state"},
        {{"--no-gui=yes"}, "takes no value"},
        {{"--help=1"}, "takes no value"},
        {{"--auto-connect", "--connect", "in_L=a:b"}, "--auto-connect"},
    };
    for (const auto& c : cases) {
        const ParseResult r = parseOptions(c.args);
        SCOPED_TRACE(c.args.front());
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(c.mentions), std::string::npos) << r.error;
    }
}

TEST(JackOptions, TheHelpNamesEveryOptionAndPort)
{
    const std::string text = usageText("z5r-jack");
    for (const char* word : {"--no-gui", "--auto-connect", "--connect", "--program", "--set", "--state", "--help",
                             "in_L", "in_R", "out_L", "out_R", "XDG_CONFIG_HOME"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
    for (const ParameterInfo& info : kParameterInfo) EXPECT_NE(text.find(info.shortName), std::string::npos);
}
