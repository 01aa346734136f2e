// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/saving/result_quality.h"

#include <algorithm>

ResultQuality resultQuality(const SourceQuality& source, TargetCoding target,
                            const QualityChoice& asked)
{
    ResultQuality how;
    const bool canBeLossless = target == TargetCoding::LossyOrLossless;
    how.lossless = canBeLossless && (asked.quality > 0 ? false : asked.lossless || !source.lossy);
    if (asked.quality > 0)
        how.quality = std::clamp(asked.quality, 1, 100);
    else if (source.lossy && source.quality > 0)
        how.quality = int(std::min<std::uint32_t>(source.quality, 100));
    else
        how.quality = defaultResultQuality;
    if (source.sampling != ChromaSampling::Unknown)
        how.sampling = source.sampling;
    how.progressive = source.progressive != 0;
    return how;
}
