// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/cli/cli_options.h"

// Reflects every picture of the picture folder into the result folder, with
// progress on a terminal, a line per file that was not simply written, and the
// counts on stdout; returns the exit code.
int runFolder(const CliRequest& request);
