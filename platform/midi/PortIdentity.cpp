#include "platform/midi/PortIdentity.h"

#include <algorithm>
#include <cstdint>

namespace platform::midi {
namespace {

// FNV-1a, 64 bits.
std::uint64_t Hash(std::string_view text, std::uint64_t seed) {
    std::uint64_t h = seed;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001B3ull;
    }
    return h;
}

// UTF-8 to UTF-16 for the description; invalid bytes become U+FFFD.
std::u16string Widen(std::string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t n = 1;
        if (byte < 0x80) {
            cp = byte;
        } else if ((byte & 0xE0) == 0xC0) {
            n = 2;
        } else if ((byte & 0xF0) == 0xE0) {
            n = 3;
        } else if ((byte & 0xF8) == 0xF0) {
            n = 4;
        }
        if (n > 1) {
            if (i + n > text.size()) {
                n = 1;
            } else {
                cp = byte & (0x7F >> n);
                for (std::size_t k = 1; k < n; ++k) {
                    const auto next = static_cast<unsigned char>(text[i + k]);
                    if ((next & 0xC0) != 0x80) {
                        cp = 0xFFFD;
                        n = k;
                        break;
                    }
                    cp = (cp << 6) | (next & 0x3F);
                }
            }
        }
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 | (cp >> 10)));
            out.push_back(char16_t(0xDC00 | (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp > 0x10FFFF ? 0xFFFD : cp));
        }
        i += n;
    }
    return out;
}

}  // namespace

music::GUID PortGuid(MidiApi api, music::DWORD portClass, std::string_view portName) {
    std::string key(ApiName(api));
    key += portClass == music::DMUS_PC_INPUTCLASS ? ":in:" : ":out:";
    key += portName;
    const std::uint64_t a = Hash(key, 0xCBF29CE484222325ull);
    const std::uint64_t b = Hash(key, a ^ 0x9E3779B97F4A7C15ull);
    music::GUID guid;
    guid.data1 = static_cast<std::uint32_t>(a >> 32);
    guid.data2 = static_cast<std::uint16_t>(a >> 16);
    guid.data3 = static_cast<std::uint16_t>((a & 0x0FFF) | 0x4000);  // version 4 layout
    for (int i = 0; i < 8; ++i)
        guid.data4[std::size_t(i)] = static_cast<std::uint8_t>(b >> (8 * i));
    guid.data4[0] = static_cast<std::uint8_t>((guid.data4[0] & 0x3F) | 0x80);
    return guid;
}

music::DMUS_PORTCAPS ExternalPortCaps(MidiApi api, music::DWORD portClass,
                                      std::string_view portName) {
    music::DMUS_PORTCAPS caps;
    caps.dwSize = sizeof caps;
    caps.dwFlags = music::DMUS_PC_EXTERNAL;
    caps.guidPort = PortGuid(api, portClass, portName);
    caps.dwClass = portClass;
    caps.dwType = music::DMUS_PORT_WINMM_DRIVER;
    caps.dwMaxChannelGroups = 1;
    const std::u16string text = Widen(std::string(ApiName(api)) + ": " + std::string(portName));
    const std::size_t n = std::min(text.size(), caps.wszDescription.size() - 1);
    std::copy_n(text.begin(), n, caps.wszDescription.begin());
    return caps;
}

bool IsOwnPort(std::string_view portName) {
    return portName.starts_with(kClientName);
}

}  // namespace platform::midi
