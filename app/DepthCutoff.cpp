#include "app/DepthCutoff.h"

#include <algorithm>

namespace Veltrane {

void cutOffDepth(TypedImage<unsigned short>& depth, int farthest)
{
    const long width = static_cast<long>(depth.width) * depth.channels;
    const long rows = static_cast<long>(depth.height) * depth.slices;
    unsigned short* const pixels = depth.typedData();
#pragma omp parallel for schedule(static)
    for (long row = 0; row < rows; ++row) {
        unsigned short* const first = pixels + row * width;
        std::replace_if(first, first + width, [farthest](unsigned short d) { return d > farthest; },
                        static_cast<unsigned short>(0));
    }
}

}  // namespace Veltrane
