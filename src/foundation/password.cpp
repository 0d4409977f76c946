#include "foundation/password.h"

#include "foundation/random.h"

namespace px {

std::string ScramblePassword(std::string_view, RandomSource&) { return {}; }
std::string UnscramblePassword(std::string_view) { return {}; }

}  // namespace px
