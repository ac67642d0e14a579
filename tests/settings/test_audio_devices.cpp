// links: tavrec_settings
// The audio device list of the preferences: which devices are admitted, the formats
// each offers and in which order, the description cut, and the format texts. A
// scripted device source gives exact capability words; the real list comes from the
// session's PulseAudio server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "settings/AudioDevices.h"

namespace {

using settings::AudioDeviceCaps;
using settings::FormatText;

class ScriptedSource : public settings::AudioDeviceSource {
public:
    struct Device {
        std::string description;
        bool opens = true;
        AudioDeviceCaps caps;
    };
    std::vector<Device> devices;
    bool listFails = false;
    std::vector<std::string> opened;

    bool List(std::vector<platform::AudioDevice>* out) override {
        if (listFails) return false;
        for (size_t i = 0; i < devices.size(); ++i)
            out->push_back({devices[i].description, "id" + std::to_string(i)});
        return true;
    }
    bool GetCaps(const platform::AudioDevice& device, AudioDeviceCaps* caps) override {
        opened.push_back(device.id);
        const Device& d = devices.at(std::stoul(device.id.substr(2)));
        if (!d.opens) return false;
        *caps = d.caps;
        return true;
    }
};

struct Expected {
    uint32_t rate;
    uint16_t channels, bits;
};

void ExpectFormats(const std::vector<WaveFormatEx>& formats, const std::vector<Expected>& expected) {
    ASSERT_EQ(formats.size(), expected.size());
    for (size_t i = 0; i < formats.size(); ++i) {
        SCOPED_TRACE("format " + std::to_string(i));
        const WaveFormatEx& f = formats[i];
        EXPECT_EQ(f.wFormatTag, 1);
        EXPECT_EQ(f.nSamplesPerSec, expected[i].rate);
        EXPECT_EQ(f.nChannels, expected[i].channels);
        EXPECT_EQ(f.wBitsPerSample, expected[i].bits);
        EXPECT_EQ(f.nBlockAlign, expected[i].channels * expected[i].bits / 8);
        EXPECT_EQ(f.nAvgBytesPerSec, f.nBlockAlign * expected[i].rate);
        EXPECT_EQ(f.cbSize, 0);
    }
}

TEST(AudioDevices, AdmitsDevicesThatOpenAndAreNotEmulationOnly) {
    ScriptedSource source;
    source.devices = {
        {"Emulated", true, {0x20, 0xFFF}},
        {"Emulated but multi-capture", true, {0x21, 0x00F}},
        {"Cannot open", false, {0x01, 0xFFF}},
        {"Plain", true, {0x00, 0x800}},
        {"Certified", true, {0x40 | 0x20, 0x001}},
    };
    settings::AudioDeviceList list = settings::EnumerateAudioDevices(source);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Description, "Emulated but multi-capture");
    EXPECT_EQ(list[1].Description, "Plain");
    EXPECT_EQ(list[2].Description, "Certified");
    // Every listed device was tried, in order.
    EXPECT_EQ(source.opened, (std::vector<std::string>{"id0", "id1", "id2", "id3", "id4"}));

    ExpectFormats(list[0].Formats, {{11025, 1, 8}, {11025, 1, 16}, {11025, 2, 8}, {11025, 2, 16}});
    ExpectFormats(list[1].Formats, {{44100, 2, 16}});
    ExpectFormats(list[2].Formats, {{11025, 1, 8}});
}

TEST(AudioDevices, FormatsFollowTheTableOrderWhateverTheBitOrder) {
    ExpectFormats(settings::FormatsOfMask(0xFFF), {{11025, 1, 8}, {11025, 1, 16}, {11025, 2, 8}, {11025, 2, 16},
                                                   {22050, 1, 8}, {22050, 1, 16}, {22050, 2, 8}, {22050, 2, 16},
                                                   {44100, 1, 8}, {44100, 1, 16}, {44100, 2, 8}, {44100, 2, 16}});
    // 0x020 is 22.05 kHz stereo 8-bit and 0x040 mono 16-bit: the table puts mono first.
    ExpectFormats(settings::FormatsOfMask(0x060), {{22050, 1, 16}, {22050, 2, 8}});
    ExpectFormats(settings::FormatsOfMask(0x500), {{44100, 1, 8}, {44100, 1, 16}});
    // Bits above the twelve carry no format; none set gives none.
    EXPECT_TRUE(settings::FormatsOfMask(0xF000).empty());
    EXPECT_TRUE(settings::FormatsOfMask(0).empty());
    ExpectFormats({settings::FormatFromCode(0), settings::FormatFromCode(3), settings::FormatFromCode(9)},
                  {{8000, 1, 8}, {8000, 2, 16}, {22050, 1, 16}});
}

TEST(AudioDevices, DescriptionsAreCutAt63) {
    ScriptedSource source;
    const std::string eighty(80, 'x');
    const std::string exact(63, 'y');
    // Two-byte characters straddling the cut: the last whole one is kept.
    std::string wide;
    for (int i = 0; i < 40; ++i) wide += "\xC3\xA9";  // é
    source.devices = {{eighty, true, {0x01, 0x001}}, {exact, true, {0x01, 0x001}}, {wide, true, {0x01, 0x001}}};
    settings::AudioDeviceList list = settings::EnumerateAudioDevices(source);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Description, eighty.substr(0, 63));
    EXPECT_EQ(list[1].Description, exact);
    EXPECT_EQ(list[2].Description, wide.substr(0, 62));
}

TEST(AudioDevices, ADeviceWithNoFormatsIsListedEmptyAndAFailedListingGivesNothing) {
    ScriptedSource source;
    source.devices = {{"Silent", true, {0x01, 0x000}}};
    settings::AudioDeviceList list = settings::EnumerateAudioDevices(source);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].Formats.empty());
    source.listFails = true;
    EXPECT_TRUE(settings::EnumerateAudioDevices(source).empty());
}

TEST(FormatText, NamesRateChannelsAndBitsWithTheTrailingBlank) {
    EXPECT_EQ(FormatText(settings::PcmFormat(11025, 1, 8)), "11.025-kHz, mono, 8-bit ");
    EXPECT_EQ(FormatText(settings::PcmFormat(22050, 2, 16)), "22.05-kHz, stereo, 16-bit ");
    EXPECT_EQ(FormatText(settings::PcmFormat(44100, 2, 16)), "44.1-kHz, stereo, 16-bit ");
    EXPECT_EQ(FormatText(settings::PcmFormat(44100, 1, 8)), "44.1-kHz, mono, 8-bit ");
    EXPECT_EQ(FormatText(settings::PcmFormat(8000, 1, 8)), "8-kHz, mono, 8-bit ");
    EXPECT_EQ(FormatText(WaveFormatEx{}), "");
    // Unknown pieces are left out; each further piece still goes before the last character.
    EXPECT_EQ(FormatText(settings::PcmFormat(48000, 2, 16)), " stereo,16-bit ");
    EXPECT_EQ(FormatText(settings::PcmFormat(22050, 6, 16)), "22.05-kHz,16-bit ");
    EXPECT_EQ(FormatText(settings::PcmFormat(22050, 2, 24)), "22.05-kHz, stereo,  ");
    EXPECT_EQ(FormatText(settings::PcmFormat(0, 0, 16)), "16-bit");
}

TEST(FormatText, EveryOfferedFormatHasItsOwnText) {
    std::map<std::string, int> seen;
    for (const WaveFormatEx& f : settings::FormatsOfMask(0xFFF)) ++seen[FormatText(f)];
    EXPECT_EQ(seen.size(), 12u);
    EXPECT_EQ(seen.count("8-kHz, mono, 8-bit "), 0u) << "8000 Hz is never offered";
}

// The session's server: the default source first, then its sources, every one with
// the twelve formats.
TEST(AudioDevices, ListsTheSessionsSources) {
    ASSERT_NE(std::getenv("TAVREC_SESSION_DIR"), nullptr) << "run this test inside tests/desktop-session.sh";
    std::vector<platform::AudioDevice> sources;
    ASSERT_TRUE(platform::AudioCapture::EnumerateDevices(&sources));
    settings::AudioDeviceList list = settings::EnumerateAudioDevices();
    ASSERT_EQ(list.size(), sources.size());
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[0].Description, sources[0].description);
    EXPECT_EQ(list[1].Description, "Monitor of Session_Null_Output");
    for (const settings::AudioDeviceEntry& entry : list) {
        SCOPED_TRACE(entry.Description);
        ASSERT_EQ(entry.Formats.size(), 12u);
        EXPECT_EQ(FormatText(entry.Formats.front()), "11.025-kHz, mono, 8-bit ");
        EXPECT_EQ(FormatText(entry.Formats[7]), "22.05-kHz, stereo, 16-bit ");
        EXPECT_EQ(FormatText(entry.Formats.back()), "44.1-kHz, stereo, 16-bit ");
    }
}

}  // namespace
