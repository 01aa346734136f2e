// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/pixels/source_quality.h"

#include <QByteArray>

#include <cstring>

namespace {

// FreeImage's writers store none of the custom model: the record stays in memory.
constexpr const char* qualityKey = "Glassmere.SourceQuality";
constexpr const char* damageKey = "Glassmere.Damage";

// Replaces `dib`'s record under `key`; a null `value` leaves none.
void setTag(FIBITMAP* dib, const char* key, FREE_IMAGE_MDTYPE type, DWORD count, DWORD length,
            const void* value)
{
    if (!dib)
        return;
    if (!value) {
        FreeImage_SetMetadata(FIMD_CUSTOM, dib, key, nullptr);
        return;
    }
    FITAG* tag = FreeImage_CreateTag();
    if (!tag)
        return;
    FreeImage_SetTagKey(tag, key);
    FreeImage_SetTagType(tag, type);
    FreeImage_SetTagCount(tag, count);
    FreeImage_SetTagLength(tag, length);
    FreeImage_SetTagValue(tag, value);
    FreeImage_SetMetadata(FIMD_CUSTOM, dib, key, tag);
    FreeImage_DeleteTag(tag);
}

} // namespace

void recordSourceQuality(FIBITMAP* dib, const SourceQuality& source)
{
    const bool nothingToSay = !source.lossy && source.quality == 0 &&
                              source.sampling == ChromaSampling::Unknown && !source.progressive;
    const DWORD fields[4] = {source.lossy, source.quality, DWORD(source.sampling),
                             source.progressive};
    setTag(dib, qualityKey, FIDT_LONG, 4, sizeof fields, nothingToSay ? nullptr : fields);
}

SourceQuality recordedSourceQuality(FIBITMAP* dib)
{
    SourceQuality source;
    FITAG* tag = nullptr;
    if (!dib || !FreeImage_GetMetadata(FIMD_CUSTOM, dib, qualityKey, &tag) || !tag ||
        FreeImage_GetTagType(tag) != FIDT_LONG || FreeImage_GetTagCount(tag) != 4)
        return source;
    DWORD fields[4];
    std::memcpy(fields, FreeImage_GetTagValue(tag), sizeof fields);
    source.lossy = fields[0] != 0;
    source.quality = fields[1] <= 100 ? fields[1] : 0;
    source.sampling = fields[2] <= DWORD(ChromaSampling::Quarter) ? ChromaSampling(fields[2])
                                                                  : ChromaSampling::Unknown;
    source.progressive = fields[3] != 0;
    return source;
}

void recordDamage(FIBITMAP* dib, const QString& words)
{
    const QByteArray text = words.toUtf8();
    const DWORD length = DWORD(text.size() + 1);
    setTag(dib, damageKey, FIDT_ASCII, length, length,
           words.isEmpty() ? nullptr : text.constData());
}

QString recordedDamage(FIBITMAP* dib)
{
    FITAG* tag = nullptr;
    if (!dib || !FreeImage_GetMetadata(FIMD_CUSTOM, dib, damageKey, &tag) || !tag ||
        FreeImage_GetTagType(tag) != FIDT_ASCII || FreeImage_GetTagLength(tag) == 0)
        return {};
    const auto* words = static_cast<const char*>(FreeImage_GetTagValue(tag));
    return QString::fromUtf8(words, qsizetype(qstrnlen(words, FreeImage_GetTagLength(tag))));
}
