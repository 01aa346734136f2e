// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <FreeImage.h>

class QByteArray;
class QString;

// The FreeImage format a file name's extension names (FIF_UNKNOWN for none).
// FreeImage's own lookup splits its extension lists with strtok, whose state
// is shared by every thread; batch jobs name their results side by side, so
// every lookup goes through here, one at a time.
FREE_IMAGE_FORMAT formatFromFileName(const QByteArray& encodedName);
FREE_IMAGE_FORMAT formatFromFileName(const QString& name);
