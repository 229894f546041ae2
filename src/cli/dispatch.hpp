// Hands a prepared run to the model family its options chose.
#pragma once

#include "core/context.hpp"

namespace occusim {

// Runs the chosen model; every model ends the run by throwing.
[[noreturn]] void dispatch(Context &ctx, const Args &args);

} // namespace occusim
