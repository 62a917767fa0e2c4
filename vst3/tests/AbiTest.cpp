// Our declarations of the VST3 interfaces against another framework's,
// written independently (Debian's dpf-source installs them): the same
// interface identifiers, the same structure sizes and field offsets, and
// the built bundle driven through the other declarations' function tables,
// which only works when every method sits in the slot we gave it.
// This test alone includes them; the product never does.
#include "Vst3Host.h"
#include "vst3/Vst3Effect.h"

#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/factory.h"
#include "travesty/unit.h"
#include "travesty/view.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

using namespace testhost;

bool same(const Uid& ours, const v3_tuid theirs) { return std::memcmp(ours.bytes, theirs, 16) == 0; }

TEST(Abi, InterfaceIdentifiersAgree)
{
    EXPECT_TRUE(same(kFUnknownIid, v3_funknown_iid));
    EXPECT_TRUE(same(kIPluginBaseIid, v3_plugin_base_iid));
    EXPECT_TRUE(same(kIPluginFactoryIid, v3_plugin_factory_iid));
    EXPECT_TRUE(same(kIPluginFactory2Iid, v3_plugin_factory_2_iid));
    EXPECT_TRUE(same(kIPluginFactory3Iid, v3_plugin_factory_3_iid));
    EXPECT_TRUE(same(kIComponentIid, v3_component_iid));
    EXPECT_TRUE(same(kIBStreamIid, v3_bstream_iid));
    EXPECT_TRUE(same(kIAudioProcessorIid, v3_audio_processor_iid));
    EXPECT_TRUE(same(kIProcessContextRequirementsIid, v3_process_context_requirements_iid));
    EXPECT_TRUE(same(kIParamValueQueueIid, v3_param_value_queue_iid));
    EXPECT_TRUE(same(kIParameterChangesIid, v3_param_changes_iid));
    EXPECT_TRUE(same(kIComponentHandlerIid, v3_component_handler_iid));
    EXPECT_TRUE(same(kIEditControllerIid, v3_edit_controller_iid));
    EXPECT_TRUE(same(kIUnitInfoIid, v3_unit_information_iid));
    EXPECT_TRUE(same(kIPlugViewIid, v3_plugin_view_iid));
    EXPECT_TRUE(same(kIPlugFrameIid, v3_plugin_frame_iid));
    EXPECT_TRUE(same(kIEventHandlerIid, v3_event_handler_iid));
    EXPECT_TRUE(same(kITimerHandlerIid, v3_timer_handler_iid));
    EXPECT_TRUE(same(kIRunLoopIid, v3_run_loop_iid));
    EXPECT_STREQ(kPlatformTypeX11EmbedWindowID, V3_VIEW_PLATFORM_TYPE_X11);
    EXPECT_STREQ(kPlatformTypeHWND, V3_VIEW_PLATFORM_TYPE_HWND);
}

TEST(Abi, ResultsAndFlagsAgree)
{
    EXPECT_EQ(kResultOk, V3_OK);
    EXPECT_EQ(kResultFalse, V3_FALSE);
    EXPECT_EQ(kNoInterface, static_cast<tresult>(V3_NO_INTERFACE));
    EXPECT_EQ(kInvalidArgument, static_cast<tresult>(V3_INVALID_ARG));
    EXPECT_EQ(kNotImplemented, static_cast<tresult>(V3_NOT_IMPLEMENTED));
    EXPECT_EQ(kLatencyChanged, V3_RESTART_LATENCY_CHANGED);
    EXPECT_EQ(kParamValuesChanged, V3_RESTART_PARAM_VALUES_CHANGED);
    EXPECT_EQ(vst3::ParameterInfo::kIsBypass, V3_PARAM_IS_BYPASS);
    EXPECT_EQ(vst3::ParameterInfo::kIsProgramChange, V3_PARAM_PROGRAM_CHANGE);
    EXPECT_EQ(vst3::ParameterInfo::kIsList, V3_PARAM_IS_LIST);
    EXPECT_EQ(vst3::ParameterInfo::kCanAutomate, V3_PARAM_CAN_AUTOMATE);
    EXPECT_EQ(kArrStereo, static_cast<SpeakerArrangement>(V3_SPEAKER_L | V3_SPEAKER_R));
    EXPECT_EQ(kArrMono, static_cast<SpeakerArrangement>(V3_SPEAKER_M));
    EXPECT_EQ(PFactoryInfo::kUnicode, 0x10);
}

#define EXPECT_LAYOUT(Ours, Theirs) EXPECT_EQ(sizeof(Ours), sizeof(Theirs)) << #Ours
#define EXPECT_FIELD(Ours, ourField, Theirs, theirField) \
    EXPECT_EQ(offsetof(Ours, ourField), offsetof(Theirs, theirField)) << #Ours "::" #ourField

TEST(Abi, StructureSizesAndOffsetsAgree)
{
    EXPECT_LAYOUT(PFactoryInfo, v3_factory_info);
    EXPECT_FIELD(PFactoryInfo, flags, v3_factory_info, flags);
    EXPECT_LAYOUT(PClassInfo, v3_class_info);
    EXPECT_FIELD(PClassInfo, name, v3_class_info, name);
    EXPECT_LAYOUT(PClassInfo2, v3_class_info_2);
    EXPECT_FIELD(PClassInfo2, classFlags, v3_class_info_2, class_flags);
    EXPECT_FIELD(PClassInfo2, sdkVersion, v3_class_info_2, sdk_version);
    EXPECT_LAYOUT(PClassInfoW, v3_class_info_3);
    EXPECT_FIELD(PClassInfoW, subCategories, v3_class_info_3, sub_categories);
    EXPECT_FIELD(PClassInfoW, sdkVersion, v3_class_info_3, sdk_version);
    EXPECT_LAYOUT(BusInfo, v3_bus_info);
    EXPECT_FIELD(BusInfo, name, v3_bus_info, bus_name);
    EXPECT_FIELD(BusInfo, flags, v3_bus_info, flags);
    EXPECT_LAYOUT(RoutingInfo, v3_routing_info);
    EXPECT_LAYOUT(ProcessSetup, v3_process_setup);
    EXPECT_FIELD(ProcessSetup, sampleRate, v3_process_setup, sample_rate);
    EXPECT_LAYOUT(AudioBusBuffers, v3_audio_bus_buffers);
    EXPECT_FIELD(AudioBusBuffers, silenceFlags, v3_audio_bus_buffers, channel_silence_bitset);
    EXPECT_FIELD(AudioBusBuffers, channelBuffers32, v3_audio_bus_buffers, channel_buffers_32);
    EXPECT_LAYOUT(ProcessData, v3_process_data);
    EXPECT_FIELD(ProcessData, inputs, v3_process_data, inputs);
    EXPECT_FIELD(ProcessData, inputParameterChanges, v3_process_data, input_params);
    EXPECT_FIELD(ProcessData, processContext, v3_process_data, ctx);
    EXPECT_LAYOUT(vst3::ParameterInfo, v3_param_info);
    EXPECT_FIELD(vst3::ParameterInfo, units, v3_param_info, units);
    EXPECT_FIELD(vst3::ParameterInfo, defaultNormalizedValue, v3_param_info, default_normalised_value);
    EXPECT_FIELD(vst3::ParameterInfo, flags, v3_param_info, flags);
    EXPECT_LAYOUT(UnitInfo, v3_unit_info);
    EXPECT_FIELD(UnitInfo, programListId, v3_unit_info, program_list_id);
    EXPECT_LAYOUT(ProgramListInfo, v3_program_list_info);
    EXPECT_FIELD(ProgramListInfo, programCount, v3_program_list_info, programCount);
    EXPECT_LAYOUT(ViewRect, v3_view_rect);
}

// The bundle, entered through the other framework's function tables.
TEST(Abi, TheBundleAnswersThroughTheOtherDeclarationsTables)
{
    ASSERT_NE(module().factory, nullptr);
    auto** factory = reinterpret_cast<v3_plugin_factory_cpp**>(module().factory);
    EXPECT_EQ((*factory)->v1.num_classes(factory), 1);
    v3_class_info_2 info2{};
    ASSERT_EQ((*factory)->v2.get_class_info_2(factory, 0, &info2), V3_OK);
    EXPECT_STREQ(info2.sub_categories, "Fx|Distortion");
    v3_class_info_3 info3{};
    ASSERT_EQ((*factory)->v3.get_class_info_utf16(factory, 0, &info3), V3_OK);
    EXPECT_EQ(info3.name[0], 'K');

    void* obj = nullptr;
    ASSERT_EQ((*factory)->v1.create_instance(factory, info2.class_id, v3_component_iid, &obj), V3_OK);
    auto** component = static_cast<v3_component_cpp**>(obj);
    ASSERT_EQ((*component)->base.initialize(component, nullptr), V3_OK);
    EXPECT_EQ((*component)->comp.get_bus_count(component, V3_AUDIO, V3_INPUT), 1);
    v3_bus_info bus{};
    ASSERT_EQ((*component)->comp.get_bus_info(component, V3_AUDIO, V3_OUTPUT, 0, &bus), V3_OK);
    EXPECT_EQ(bus.channel_count, 2);

    ASSERT_EQ((*component)->query_interface(component, v3_edit_controller_iid, &obj), V3_OK);
    auto** controller = static_cast<v3_edit_controller_cpp**>(obj);
    ASSERT_EQ((*component)->query_interface(component, v3_audio_processor_iid, &obj), V3_OK);
    auto** processor = static_cast<v3_audio_processor_cpp**>(obj);
    ASSERT_EQ((*component)->query_interface(component, v3_unit_information_iid, &obj), V3_OK);
    auto** units = static_cast<v3_unit_information_cpp**>(obj);

    EXPECT_EQ((*controller)->ctrl.get_parameter_count(controller), kParameterCount);
    v3_param_info param{};
    ASSERT_EQ((*controller)->ctrl.get_parameter_info(controller, kParamTriode, &param), V3_OK);
    EXPECT_EQ(param.step_count, 2);
    EXPECT_EQ((*controller)->ctrl.set_parameter_normalised(controller, kParamOversample, 1.0), V3_OK);
    EXPECT_EQ((*processor)->proc.get_latency_samples(processor), 8u);
    EXPECT_EQ((*controller)->ctrl.get_parameter_normalised(controller, kParamOversample), 1.0);
    EXPECT_EQ((*controller)->ctrl.create_view(controller, "no such view"), nullptr);
    EXPECT_EQ((*units)->unit.get_program_list_count(units), 1);
    EXPECT_EQ((*processor)->proc.can_process_sample_size(processor, V3_SAMPLE_32), V3_OK);

    // One block through the other declarations' process data.
    v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, 256, 48000.0};
    ASSERT_EQ((*processor)->proc.setup_processing(processor, &setup), V3_OK);
    ASSERT_EQ((*component)->comp.set_active(component, 1), V3_OK);
    std::vector<float> l(256, 0.25f), r(256, -0.25f), ol(256, 9.0f), or_(256, 9.0f);
    float* ins[2] = {l.data(), r.data()};
    float* outs[2] = {ol.data(), or_.data()};
    v3_audio_bus_buffers in{}, out{};
    in.num_channels = 2;
    in.channel_buffers_32 = ins;
    out.num_channels = 2;
    out.channel_buffers_32 = outs;
    v3_process_data data{};
    data.symbolic_sample_size = V3_SAMPLE_32;
    data.nframes = 256;
    data.num_input_buses = 1;
    data.num_output_buses = 1;
    data.inputs = &in;
    data.outputs = &out;
    ASSERT_EQ((*processor)->proc.process(processor, &data), V3_OK);
    EXPECT_NE(ol[255], 9.0f);
    EXPECT_NE(or_[255], 9.0f);
    (*component)->comp.set_active(component, 0);

    (*units)->unref(units);
    (*processor)->unref(processor);
    (*controller)->unref(controller);
    (*component)->base.terminate(component);
    EXPECT_EQ((*component)->unref(component), 0u);
}

}  // namespace
