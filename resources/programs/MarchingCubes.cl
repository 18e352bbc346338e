// Marching cubes over one slab of whole slices of a distance volume.
//
// The volume is a float buffer, voxel (x, y, z) at x + w * (y + h * z); NaN
// marks a voxel never observed. A cell is named after its lowest corner voxel
// and belongs to the slab of that voxel's slice; it may read the next slice
// from the whole volume. Cells reaching past the last voxel of any axis, and
// cells with an unobserved corner, emit nothing.
//
// Variants: COMPUTE_NORMALS adds a normal output (from the distance gradient),
// COMPUTE_COLORS a colour volume input (RGBA bytes) and a colour output.

__constant sampler_t tableSampler =
    CLK_NORMALIZED_COORDS_FALSE | CLK_ADDRESS_CLAMP_TO_EDGE | CLK_FILTER_NEAREST;

// Corner c of a cell is its lowest voxel plus this offset.
__constant int4 cornerOffsets[8] = {(int4)(0, 0, 0, 0), (int4)(1, 0, 0, 0), (int4)(1, 1, 0, 0),
                                    (int4)(0, 1, 0, 0), (int4)(0, 0, 1, 0), (int4)(1, 0, 1, 0),
                                    (int4)(1, 1, 1, 0), (int4)(0, 1, 1, 0)};

// The corner pair of each edge, in the order the edge vertex is interpolated.
__constant int2 edgeCorners[12] = {(int2)(0, 1), (int2)(1, 2), (int2)(2, 3), (int2)(3, 0),
                                   (int2)(4, 5), (int2)(5, 6), (int2)(6, 7), (int2)(7, 4),
                                   (int2)(0, 4), (int2)(1, 5), (int2)(2, 6), (int2)(3, 7)};

size_t voxelIndex(int x, int y, int z, int width, int height)
{
    return (size_t)x + (size_t)width * ((size_t)y + (size_t)height * (size_t)z);
}

// Reads the eight corner values of the cell at (x, y, z) (z counted in the
// whole volume) and returns its case index, or -1 when the cell emits nothing
// for lack of data.
int cellCase(__global const float* volume, int x, int y, int z, int width, int height,
             int slices, float isoValue, float* corners)
{
    if (x + 1 >= width || y + 1 >= height || z + 1 >= slices)
        return -1;
    int caseIndex = 0;
    for (int c = 0; c < 8; ++c) {
        const int4 o = cornerOffsets[c];
        const float value = volume[voxelIndex(x + o.x, y + o.y, z + o.z, width, height)];
        if (isnan(value))
            return -1;
        corners[c] = value;
        if (isoValue > value)
            caseIndex |= 1 << c;
    }
    return caseIndex;
}

__kernel void classifyVoxels(__global uint* vertexCounts, __global uint* occupancy,
                             __global const float* volume, const int4 slabSize,
                             const float4 voxelSpacing, const int firstSlice,
                             const int volumeSlices, const float isoValue,
                             __read_only image2d_t vertexCountTable)
{
    const size_t i = get_global_id(0);
    const size_t voxelCount = (size_t)slabSize.x * (size_t)slabSize.y * (size_t)slabSize.z;
    if (i >= voxelCount)
        return;
    const int x = (int)(i % (size_t)slabSize.x);
    const int y = (int)((i / (size_t)slabSize.x) % (size_t)slabSize.y);
    const int z = firstSlice + (int)(i / ((size_t)slabSize.x * (size_t)slabSize.y));
    float corners[8];
    const int caseIndex =
        cellCase(volume, x, y, z, slabSize.x, slabSize.y, volumeSlices, isoValue, corners);
    uint count = 0;
    if (caseIndex >= 0)
        count = read_imageui(vertexCountTable, tableSampler, (int2)(caseIndex, 0)).x;
    vertexCounts[i] = count;
    occupancy[i] = count > 0 ? 1u : 0u;
}

__kernel void compactVoxels(__global uint* activeVoxels, __global const uint* occupancy,
                            __global const uint* occupancyOffsets, const int voxelCount)
{
    const int i = (int)get_global_id(0);
    if (i >= voxelCount)
        return;
    if (occupancy[i] != 0)
        activeVoxels[occupancyOffsets[i]] = (uint)i;
}

#ifdef COMPUTE_NORMALS
// Central difference of the distance at a voxel, one-sided at the volume's
// border.
float3 voxelGradient(__global const float* volume, int x, int y, int z, int width, int height,
                     int slices)
{
    const int x0 = max(x - 1, 0), x1 = min(x + 1, width - 1);
    const int y0 = max(y - 1, 0), y1 = min(y + 1, height - 1);
    const int z0 = max(z - 1, 0), z1 = min(z + 1, slices - 1);
    return (float3)(volume[voxelIndex(x1, y, z, width, height)] -
                        volume[voxelIndex(x0, y, z, width, height)],
                    volume[voxelIndex(x, y1, z, width, height)] -
                        volume[voxelIndex(x, y0, z, width, height)],
                    volume[voxelIndex(x, y, z1, width, height)] -
                        volume[voxelIndex(x, y, z0, width, height)]);
}
#endif

__kernel void generateTriangles(__global float4* outPositions,
#ifdef COMPUTE_NORMALS
                                __global float4* outNormals,
#endif
#ifdef COMPUTE_COLORS
                                __global float4* outColors,
#endif
                                __global const uint* activeVoxels,
                                __global const uint* vertexOffsets,
                                __global const float* volume,
#ifdef COMPUTE_COLORS
                                __global const uchar4* colors,
#endif
                                const int4 slabSize, const float4 voxelSpacing,
                                const int firstSlice, const int volumeSlices,
                                const float isoValue, const int activeVoxelCount,
                                const int vertexCapacity,
                                __read_only image2d_t vertexCountTable,
                                __read_only image2d_t triangleTable)
{
    const int g = (int)get_global_id(0);
    if (g >= activeVoxelCount)
        return;
    const uint voxel = activeVoxels[g];
    const int x = (int)(voxel % (uint)slabSize.x);
    const int y = (int)((voxel / (uint)slabSize.x) % (uint)slabSize.y);
    const int z = firstSlice + (int)(voxel / ((uint)slabSize.x * (uint)slabSize.y));
    float corners[8];
    const int caseIndex =
        cellCase(volume, x, y, z, slabSize.x, slabSize.y, volumeSlices, isoValue, corners);
    if (caseIndex < 0)
        return;
    const int count = (int)read_imageui(vertexCountTable, tableSampler, (int2)(caseIndex, 0)).x;
    const uint first = vertexOffsets[voxel];
    if ((long)first + count > (long)vertexCapacity)
        return;

    for (int k = 0; k < count; ++k) {
        const int edge = (int)read_imageui(triangleTable, tableSampler, (int2)(k, caseIndex)).x;
        const int a = edgeCorners[edge].x;
        const int b = edgeCorners[edge].y;
        const int4 oa = cornerOffsets[a];
        const int4 ob = cornerOffsets[b];
        const float fa = corners[a];
        const float fb = corners[b];
        const float3 pa = (float3)((float)(x + oa.x), (float)(y + oa.y), (float)(z + oa.z));
        const float3 pb = (float3)((float)(x + ob.x), (float)(y + ob.y), (float)(z + ob.z));
        const float r = fa == fb ? 0.0f : (isoValue - fa) / (fb - fa);
        const float3 p = fa == fb ? pa : pa + r * (pb - pa);
        const uint out = first + (uint)k;
        outPositions[out] = (float4)(p * voxelSpacing.xyz, 1.0f);
#ifdef COMPUTE_NORMALS
        const float3 ga = voxelGradient(volume, x + oa.x, y + oa.y, z + oa.z, slabSize.x,
                                        slabSize.y, volumeSlices);
        const float3 gb = voxelGradient(volume, x + ob.x, y + ob.y, z + ob.z, slabSize.x,
                                        slabSize.y, volumeSlices);
        // Against the gradient, like the triangle in the order written.
        const float3 gradient = (ga + r * (gb - ga)) / voxelSpacing.xyz;
        const float length = fast_length(gradient);
        outNormals[out] = (float4)(length > 0.0f ? -gradient / length : gradient, 0.0f);
#endif
#ifdef COMPUTE_COLORS
        const float3 ca = convert_float3(
                              colors[voxelIndex(x + oa.x, y + oa.y, z + oa.z, slabSize.x, slabSize.y)]
                                  .xyz) /
                          255.0f;
        const float3 cb = convert_float3(
                              colors[voxelIndex(x + ob.x, y + ob.y, z + ob.z, slabSize.x, slabSize.y)]
                                  .xyz) /
                          255.0f;
        outColors[out] = (float4)(fa == fb ? ca : ca + r * (cb - ca), 1.0f);
#endif
    }
}
