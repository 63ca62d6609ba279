#include "cp1251.h"

namespace sim {

std::string to_cp1251(const std::string& utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(char(c));
            ++i;
            continue;
        }
        unsigned cp = 0;
        size_t len = 0;
        if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else {
            out.push_back('?');
            ++i;
            continue;
        }
        if (i + len > utf8.size()) {
            out.push_back('?');
            break;
        }
        for (size_t k = 1; k < len; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += len;
        if (cp >= 0x0410 && cp <= 0x044F)
            out.push_back(char(0xC0 + (cp - 0x0410)));
        else if (cp == 0x0401)
            out.push_back(char(0xA8));
        else if (cp == 0x0451)
            out.push_back(char(0xB8));
        else if (cp == 0x2116)
            out.push_back(char(0xB9));  // №
        else
            out.push_back('?');
    }
    return out;
}

}  // namespace sim
