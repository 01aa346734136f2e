// SPDX-License-Identifier: GPL-3.0-or-later
#include "globals.h"

#include "product.h"

QString applicationFolder;
QString skinFile;

const char* const versionString = GLASSMERE_VERSION;
const char* const homePageAddress = GLASSMERE_HOME_PAGE;
const char* const helpPageAddress = GLASSMERE_HELP_PAGE;
const char* const supportMailAddress = GLASSMERE_SUPPORT_ADDRESS;
const char* const noticeText = "Copyright (C) 2026 The Glassmere developers";
