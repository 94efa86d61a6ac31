#pragma once

#include <cstddef>
#include <string>

// One code point of a UTF-8 text and the bytes it takes there.
struct Utf8CodePoint {
    char32_t value;
    std::size_t length;
};

// The code point that starts at byte `at` (< text.size()) of a UTF-8 text. The lead byte says how
// many bytes belong to it; a byte that leads nothing (a stray continuation byte) stands for
// itself, and a sequence cut short by the end of the text takes what is left.
Utf8CodePoint code_point_at(const std::string& text, std::size_t at);
