#pragma once
// Scrambling of stored passwords (User.ini, external accounts): capital letters only.
#include <string>
#include <string_view>

namespace px {

class RandomSource;

// 60 capital letters for passwords of up to 20 bytes; longer passwords add two letters per
// further byte, so nothing is lost. The password must not contain the byte 0x01.
std::string ScramblePassword(std::string_view password, RandomSource& random);
// The reverse; "" for "".
std::string UnscramblePassword(std::string_view scrambled);

}  // namespace px
