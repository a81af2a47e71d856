#pragma once
// The fuzz targets' checks: a property that does not hold aborts, which
// libFuzzer reports as a crash and saves the input.

#include <cstdlib>

namespace torvane::fuzz {

inline void require(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace torvane::fuzz
