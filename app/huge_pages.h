#pragma once

#include <cstdlib>
#include <unistd.h>

// Pictures and their results run to hundreds of megabytes, and each fresh
// 4 KiB page of them costs a fault of its own: tens of thousands per saved
// picture, a tenth of the time. glibc backs its large blocks with 2 MiB pages
// where the system lets programs ask for them, but only when told so in the
// environment before the program starts. So the program starts itself again
// once with that setting, unless the user chose settings of their own; when
// that cannot be done it goes on as it is.
inline void restartWithHugePages(char* argv[])
{
    if (std::getenv("GLIBC_TUNABLES") != nullptr)
        return;
    if (setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1", 1) != 0)
        return;
    execv("/proc/self/exe", argv);
    unsetenv("GLIBC_TUNABLES");
}
