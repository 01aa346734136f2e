// SPDX-License-Identifier: GPL-3.0-or-later
// --version, as GNU tools give it: the version, the licence, then the
// libraries glassmere-cli runs on.

#include "app/cli/cli_options.h"

#include "product.h"

#include <FreeImage.h>
#include <QtGlobal>
#include <libdeflate.h>
#include <zlib.h>

QString versionText()
{
    return QStringLiteral("glassmere-cli %1\n"
                          "Copyright (C) 2026 The Glassmere developers\n"
                          "License GPL-3.0-or-later: GNU GPL version 3 or later "
                          "<https://gnu.org/licenses/gpl.html>.\n"
                          "This is free software: you are free to change and redistribute it.\n"
                          "There is NO WARRANTY, to the extent permitted by law.\n"
                          "\n"
                          "Libraries: FreeImage %2, libdeflate %3, Qt %4, zlib %5\n")
        .arg(QStringLiteral(GLASSMERE_VERSION), QString::fromLatin1(FreeImage_GetVersion()),
             QStringLiteral(LIBDEFLATE_VERSION_STRING), QString::fromLatin1(qVersion()),
             QString::fromLatin1(zlibVersion()));
}
