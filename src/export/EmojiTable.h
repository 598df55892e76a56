#pragma once

#include <cstddef>

// The emoji tables the build makes from Debian's Unicode data: the generated
// EmojiTable.cpp (written by src/generators/EmojiTableGenerator.cpp) defines them,
// so that which emoji are recognised never depends on what a machine has on disk.
struct EmojiTable
{
    // Every sequence of the emoji test data, qualified or not, each followed by a 0.
    static const char32_t sequences[];
    static const std::size_t sequencesSize;
    // Per carrier emoji of the private-use block: its code, the fully qualified
    // Unicode emoji it stands for, and a 0.
    static const char32_t carrier[];
    static const std::size_t carrierSize;
};
