// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The instruction sets the pixel kernels are built for and this processor
// runs, one test row each, and the kernels held to one of them.

#include <hwy/highway.h>

#include <QTest>

#include <cstdint>
#include <vector>

inline std::vector<std::int64_t> kernelTargets()
{
    return hwy::SupportedAndGeneratedTargets();
}

// Every kernel runs on `target` until the scope ends, then on the processor's best.
struct KernelTarget {
    explicit KernelTarget(std::int64_t target) { hwy::SetSupportedTargetsForTest(target); }
    ~KernelTarget() { hwy::SetSupportedTargetsForTest(0); }
    KernelTarget(const KernelTarget&) = delete;
    KernelTarget& operator=(const KernelTarget&) = delete;
};
