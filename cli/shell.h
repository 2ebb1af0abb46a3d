// tarn shell [SERVER [DB]]: statements and meta commands read from a
// terminal or a script, each statement sent as one query.
#pragma once

#include "plan.h"

namespace tarn_cli {

// Runs the shell for a configured client; returns the exit status.
int run_shell(const Plan &plan);

}  // namespace tarn_cli
