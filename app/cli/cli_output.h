// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What glassmere-cli says and how it ends: the exit codes and the two kinds of
// message, a usage error (with the hint to --help) and a failure.

#include <QString>

#include <cstdio>

enum ExitCode { AllWritten = 0, SomeFailed = 1, UsageError = 2, Interrupted = 130 };

// Writes text in the terminal's encoding and flushes, so that progress and
// messages on stderr and the report on stdout arrive in order.
void printTo(FILE* stream, const QString& text);

// "glassmere-cli: MESSAGE" and the hint to --help on stderr; returns UsageError.
int usageError(const QString& message);

// "glassmere-cli: MESSAGE" on stderr; returns SomeFailed.
int failure(const QString& message);
