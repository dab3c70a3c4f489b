#include "quelby/resources/random_token.h"

#include <array>
#include <cstdint>
#include <random>

namespace quelby {

std::string random_token() {
    std::random_device random;
    constexpr std::array<char, 16> HEX = {'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    std::string token;
    for (int word = 0; word < 4; ++word) {
        std::uint32_t bits = random();
        for (int digit = 0; digit < 8; ++digit) {
            token.push_back(HEX[bits & 0xFU]);
            bits >>= 4U;
        }
    }
    return token;
}

}  // namespace quelby
