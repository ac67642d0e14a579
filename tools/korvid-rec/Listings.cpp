#include "tools/korvid-rec/Listings.h"

#include <cstdio>
#include <string>

#include "platform/codec/CodecManager.h"
#include "settings/AudioDevices.h"

namespace tools {

int ListCodecs()
{
    platform::CodecInfo info;
    for (int index = 0; platform::CodecManager::Info(0, index, &info); ++index) {
        std::string text;
        for (char16_t c : info.description)
            text += c < 0x80 ? static_cast<char>(c) : '?';
        std::printf("%s\n", text.c_str());
    }
    return 0;
}

int ListAudio()
{
    const settings::AudioDeviceList devices = settings::EnumerateAudioDevices();
    if (devices.empty()) {
        std::fprintf(stderr, "korvid-rec: no sound capture device (is a PulseAudio server running?)\n");
        return 1;
    }
    for (const auto& device : devices) {
        std::printf("%s\n", device.Description.c_str());
        for (const auto& format : device.Formats)
            std::printf("    %s\n", settings::FormatText(format).c_str());
    }
    return 0;
}

platform::ScreenSourceChoice ChooseSource(const std::string& source)
{
    return source == "auto" ? platform::ChooseScreenSource() : platform::ChooseScreenSource(source.c_str());
}

int ListSources(const std::string& source)
{
    std::printf("x11     the X11 grab of the root window (X11 desktops)\n");
    std::printf("portal  the desktop portal's screen cast over PipeWire (Wayland desktops)\n");
    const platform::ScreenSourceChoice choice = ChooseSource(source);
    std::printf("using: %s (%s)\n", platform::ScreenSourceName(choice.kind), choice.reason.c_str());
    return 0;
}

}  // namespace tools
