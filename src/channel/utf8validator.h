// Checks text that arrives in pieces as UTF-8, where a piece may end inside a character.
#pragma once

#include <QtGlobal>

/// Follows RFC 3629: no overlong forms, no surrogates, nothing beyond U+10FFFF.
class Utf8Validator
{
public:
    /// Checks the next bytes; false from the first invalid byte on.
    bool feed(const char *data, qint64 size);
    /// Whether the bytes so far end at a character's end.
    bool atCharacterEnd() const { return needed == 0; }
    void reset();

private:
    bool failed = false;
    int needed = 0; // continuation bytes still due
    uchar lower = 0x80;
    uchar upper = 0xBF;
};
