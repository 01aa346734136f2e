// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/cli/cli_options.h"

// Reflects one picture into one file; returns the exit code.
int runSingle(const CliRequest& request);
