// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Set once by start-up before the window exists, read-only afterwards.
extern QString applicationFolder; // the executable's folder, forward slashes, no trailing '/'
extern QString skinFile;          // applicationFolder + "/skin"

extern const char* const versionString;
extern const char* const homePageAddress;
extern const char* const helpPageAddress;
extern const char* const supportMailAddress;
extern const char* const noticeText;
