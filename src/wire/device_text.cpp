#include "wire/device_text.h"

namespace kestrel {

std::string DeviceText(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (const char c : raw) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '\r' || u == '\n') {
            out += ' ';
        } else if (u < 0x20 || (u >= 0x7F && u < 0xA0)) {
            // C1 controls count too: a terminal may take 0x9B, written as
            // UTF-8, as the start of an escape sequence.
            out += '?';
        } else if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

}  // namespace kestrel
