// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the HEIF reader and the AVIF writer hold of libheif: each object
// released by its own call when its owner goes, and the library's words for
// a failure.

#include <libheif/heif.h>

#include <QString>

#include <memory>

template <auto release> struct HeifRelease {
    template <typename T> void operator()(T* object) const { release(object); }
};
// HeifOwned<heif_context, heif_context_free> owns a context.
template <typename T, auto release> using HeifOwned = std::unique_ptr<T, HeifRelease<release>>;

// "WHAT (libheif: the library's message)".
inline QString heifFailure(const QString& what, const heif_error& error)
{
    return QStringLiteral("%1 (libheif: %2)")
        .arg(what, QString::fromUtf8(error.message ? error.message : "?").trimmed());
}
