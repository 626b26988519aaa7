// Checks text that arrives in pieces as UTF-8, where a piece may end inside a character.
#include "channel/utf8validator.h"

#include <cstring>

bool Utf8Validator::feed(const char *data, qint64 size)
{
    if (failed)
        return false;
    const auto *byte = reinterpret_cast<const uchar *>(data);
    const uchar *end = byte + size;
    while (byte < end) {
        if (needed == 0) {
            // Commands are mostly ASCII: eight bytes at a time while no high bit is set.
            while (end - byte >= 8) {
                quint64 word;
                std::memcpy(&word, byte, sizeof word);
                if (word & 0x8080808080808080ULL)
                    break;
                byte += 8;
            }
            if (byte == end)
                break;
            const uchar lead = *byte++;
            if (lead < 0x80)
                continue;
            lower = 0x80;
            upper = 0xBF;
            if (lead >= 0xC2 && lead <= 0xDF) {
                needed = 1;
            } else if (lead >= 0xE0 && lead <= 0xEF) {
                needed = 2;
                if (lead == 0xE0)
                    lower = 0xA0; // overlong below U+0800
                else if (lead == 0xED)
                    upper = 0x9F; // surrogates
            } else if (lead >= 0xF0 && lead <= 0xF4) {
                needed = 3;
                if (lead == 0xF0)
                    lower = 0x90; // overlong below U+10000
                else if (lead == 0xF4)
                    upper = 0x8F; // beyond U+10FFFF
            } else {
                failed = true;
                return false;
            }
        } else {
            const uchar next = *byte++;
            if (next < lower || next > upper) {
                failed = true;
                return false;
            }
            lower = 0x80;
            upper = 0xBF;
            --needed;
        }
    }
    return true;
}

void Utf8Validator::reset()
{
    failed = false;
    needed = 0;
    lower = 0x80;
    upper = 0xBF;
}
