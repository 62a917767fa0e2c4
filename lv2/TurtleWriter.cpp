// Writes the bundle's Turtle at build time from the port table and the
// factory programs, so that the description, the presets and the code have
// one source:
//
//   z5r-lv2-turtle OUTPUT_DIR [--ui]
//
// manifest.ttl (what the bundle holds), KorvaneZ5R.ttl (the plug-in, its
// ports and, with --ui, its editor) and presets.ttl (the eight factory
// programs). Exits non-zero when a file cannot be written or a preset would
// not read back as its program.
#include "lv2/PortMap.h"
#include "lv2/ScopeMessage.h"
#include "lv2/Uris.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr const char* kPrefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
    "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

constexpr const char* kLicence = "https://www.qmv.example/licence";

// A Turtle decimal that reads back as exactly this float: the shortest
// fixed-point text that round-trips, with a decimal point.
std::string decimal(float value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed);
    std::string out(text, result.ptr);
    if (out.find('.') == std::string::npos) out += ".0";
    return out;
}

// Preset URIs and labels. Programs 5 to 8 are all called "Default" in the
// factory bank; hosts list presets by label alone, so these four carry
// their program number ("Default 5") to tell them apart in a menu.
std::string presetLabel(int32_t program)
{
    std::string label = kFactoryPrograms[program].name;
    for (int32_t other = 0; other < program; ++other)
        if (label == kFactoryPrograms[other].name) return label + " " + std::to_string(program + 1);
    return label;
}

std::string presetUri(int32_t program)
{
    std::string slug;
    for (const char c : presetLabel(program)) {
        if (c >= 'A' && c <= 'Z')
            slug += static_cast<char>(c - 'A' + 'a');
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            slug += c;
        else if (!slug.empty() && slug.back() != '-')
            slug += '-';
    }
    return std::string(Z5R_LV2_URI "#preset-") + slug;
}

std::string manifest(bool withUi)
{
    std::ostringstream t;
    t << kPrefixes;
    t << "<" Z5R_LV2_URI ">\n"
         "\ta lv2:Plugin ;\n"
         "\tlv2:binary <" Z5R_LV2_DSP_BINARY "> ;\n"
         "\trdfs:seeAlso <" Z5R_LV2_PLUGIN_TTL "> .\n\n";
    if (withUi)
        t << "<" Z5R_LV2_UI_URI ">\n"
             "\ta ui:X11UI ;\n"
             "\tlv2:binary <" Z5R_LV2_UI_BINARY "> ;\n"
             "\trdfs:seeAlso <" Z5R_LV2_PLUGIN_TTL "> .\n\n";
    for (int32_t p = 0; p < kNumPrograms; ++p)
        t << "<" << presetUri(p) << ">\n"
          << "\ta pset:Preset ;\n"
          << "\tlv2:appliesTo <" Z5R_LV2_URI "> ;\n"
          << "\trdfs:seeAlso <" Z5R_LV2_PRESETS_TTL "> .\n\n";
    return t.str();
}

void controlPort(std::ostringstream& t, int32_t index)
{
    const ParameterInfo& port = kParameterInfo[index];
    t << "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
      << "\t\tlv2:index " << index << " ;\n"
      << "\t\tlv2:symbol \"" << port.symbol << "\" ;\n"
      << "\t\tlv2:name \"" << port.name << "\" ;\n"
      << "\t\tlv2:default " << decimal(port.defaultPhysical) << " ;\n"
      << "\t\tlv2:minimum " << decimal(port.minimum) << " ;\n"
      << "\t\tlv2:maximum " << decimal(port.maximum);
    int32_t labels = 0;
    switch (port.kind) {
    case ParamKind::Switch:
        t << " ;\n\t\tlv2:portProperty lv2:toggled , lv2:integer";
        labels = 2;
        break;
    case ParamKind::Continuous:
        t << " ;\n\t\tunits:unit units:db";
        break;
    case ParamKind::Choice:
        t << " ;\n\t\tlv2:portProperty lv2:enumeration";
        // The tube type is an index; supply and capacitor are physical values.
        if (port.entries[0] == 0.0f && port.entries[1] == 1.0f) t << " , lv2:integer";
        labels = port.stepCount + 1;
        break;
    }
    for (int32_t i = 0; i < labels; ++i)
        t << (i == 0 ? " ;\n\t\tlv2:scalePoint " : " ,\n\t\t\t") << "[ rdfs:label \"" << port.entryLabels[i]
          << "\" ; rdf:value " << decimal(port.kind == ParamKind::Switch ? static_cast<float>(i) : port.entries[i])
          << " ]";
    t << "\n";
}

std::string plugin(bool withUi)
{
    // Room for a whole ring of scope points in one run, with the sequence's
    // header and the atom's own, in whole kilobytes.
    const uint32_t scopeBytes = (scopeEventBytes(kScopeRingSize) + 2 * sizeof(LV2_Atom_Sequence) + 1023) / 1024 * 1024;

    std::ostringstream t;
    t << kPrefixes;
    t << "<" << kLicence << ">\n"
      << "\trdfs:label \"QMV end-user licence: proprietary, all rights reserved\" .\n\n";
    t << "<" Z5R_LV2_URI ">\n"
         "\ta lv2:Plugin , lv2:DistortionPlugin , doap:Project ;\n"
      << "\tdoap:name \"" << product::kName << "\" ;\n"
      << "\trdfs:comment \"A stereo virtual-analog vacuum-triode overdrive.\" ;\n"
      << "\tdoap:maintainer [\n"
      << "\t\ta foaf:Organization ;\n"
      << "\t\tfoaf:name \"" << product::kVendor << "\" ;\n"
      << "\t\tfoaf:homepage <" << product::kVendorHomepage << ">\n"
      << "\t] ;\n"
      << "\tdoap:license <" << kLicence << "> ;\n"
      << "\tlv2:minorVersion " << Z5R_LV2_MINOR_VERSION << " ;\n"
      << "\tlv2:microVersion " << Z5R_LV2_MICRO_VERSION << " ;\n"
      << "\tlv2:requiredFeature urid:map ;\n"
         "\tlv2:optionalFeature lv2:hardRTCapable ;\n";
    if (withUi) t << "\tui:ui <" Z5R_LV2_UI_URI "> ;\n";
    t << "\tlv2:port [\n";
    for (int32_t i = 0; i < kNumParams; ++i) {
        controlPort(t, i);
        t << "\t] , [\n";
    }
    const char* audio[4][3] = {{"lv2:InputPort", "in_l", "Left input"},
                               {"lv2:InputPort", "in_r", "Right input"},
                               {"lv2:OutputPort", "out_l", "Left output"},
                               {"lv2:OutputPort", "out_r", "Right output"}};
    for (int32_t i = 0; i < 4; ++i)
        t << "\t\ta " << audio[i][0] << " , lv2:AudioPort ;\n"
          << "\t\tlv2:index " << kPortInputLeft + i << " ;\n"
          << "\t\tlv2:symbol \"" << audio[i][1] << "\" ;\n"
          << "\t\tlv2:name \"" << audio[i][2] << "\"\n"
          << "\t] , [\n";
    t << "\t\ta lv2:OutputPort , lv2:ControlPort ;\n"
      << "\t\tlv2:index " << kPortLatency << " ;\n"
      << "\t\tlv2:symbol \"latency\" ;\n"
      << "\t\tlv2:name \"Latency\" ;\n"
      << "\t\tlv2:minimum 0 ;\n"
      << "\t\tlv2:maximum " << kOversampledLatency << " ;\n"
      << "\t\tlv2:designation lv2:latency ;\n"
      << "\t\tlv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
      << "\t\tunits:unit units:frame\n"
      << "\t] , [\n"
      << "\t\ta lv2:OutputPort , atom:AtomPort ;\n"
      << "\t\tatom:bufferType atom:Sequence ;\n"
      << "\t\tlv2:index " << kPortScope << " ;\n"
      << "\t\tlv2:symbol \"scope\" ;\n"
      << "\t\tlv2:name \"Scope\" ;\n"
      << "\t\tlv2:portProperty lv2:connectionOptional ;\n"
      << "\t\trsz:minimumSize " << scopeBytes << "\n"
      << "\t] , [\n"
      << "\t\ta lv2:InputPort , atom:AtomPort ;\n"
      << "\t\tatom:bufferType atom:Sequence ;\n"
      << "\t\tlv2:index " << kPortScopeWatch << " ;\n"
      << "\t\tlv2:symbol \"scope_watch\" ;\n"
      << "\t\tlv2:name \"Scope watch\" ;\n"
      << "\t\tlv2:portProperty lv2:connectionOptional\n"
      << "\t] .\n";
    if (withUi)
        t << "\n<" Z5R_LV2_UI_URI ">\n"
             "\ta ui:X11UI ;\n"
             "\tlv2:requiredFeature ui:parent , urid:map ;\n"
             "\tlv2:optionalFeature ui:idleInterface , ui:resize , ui:noUserResize ;\n"
             "\tlv2:extensionData ui:idleInterface ;\n"
             "\tui:portNotification [\n"
             "\t\tui:plugin <" Z5R_LV2_URI "> ;\n"
             "\t\tlv2:symbol \"scope\" ;\n"
             "\t\tui:protocol atom:eventTransfer\n"
             "\t] .\n";
    return t.str();
}

std::string presets(bool& ok)
{
    std::ostringstream t;
    t << kPrefixes;
    for (int32_t p = 0; p < kNumPrograms; ++p) {
        t << "<" << presetUri(p) << ">\n"
          << "\ta pset:Preset ;\n"
          << "\tlv2:appliesTo <" Z5R_LV2_URI "> ;\n"
          << "\trdfs:label \"" << presetLabel(p) << "\" ;\n"
          << "\tlv2:port [\n";
        for (int32_t i = 0; i < kNumParams; ++i) {
            const float normalized = kFactoryPrograms[p].values[i];
            const float value = physicalFromNormalized(i, normalized);
            // The text must read back as the program's own setting: the same
            // float for Gain and Level, the same entry or switch position for
            // the rest (the bank's 2.0 selects the last entry).
            const float back = normalizedFromPhysical(i, std::strtof(decimal(value).c_str(), nullptr));
            const bool same = kParameterInfo[i].kind == ParamKind::Continuous
                                  ? back == normalized
                                  : (kParameterInfo[i].kind == ParamKind::Switch
                                         ? switchIsOn(back) == switchIsOn(normalized)
                                         : choiceEntry(i, back) == choiceEntry(i, normalized));
            if (!same) {
                std::fprintf(stderr, "z5r-lv2-turtle: preset %d, port %s does not read back\n", p,
                             kParameterInfo[i].symbol);
                ok = false;
            }
            t << "\t\tlv2:symbol \"" << kParameterInfo[i].symbol << "\" ;\n"
              << "\t\tpset:value " << decimal(value) << "\n"
              << (i + 1 < kNumParams ? "\t] , [\n" : "\t] .\n\n");
        }
    }
    return t.str();
}

bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "z5r-lv2-turtle: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: z5r-lv2-turtle OUTPUT_DIR [--ui]\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    const bool withUi = argc > 2 && std::string(argv[2]) == "--ui";
    bool ok = true;
    const std::string presetText = presets(ok);
    ok = writeFile(dir + "manifest.ttl", manifest(withUi)) && ok;
    ok = writeFile(dir + Z5R_LV2_PLUGIN_TTL, plugin(withUi)) && ok;
    ok = writeFile(dir + Z5R_LV2_PRESETS_TTL, presetText) && ok;
    return ok ? 0 : 1;
}
