// Depth preprocessing, surface prediction, ICP rows and volume integration of
// the fusion back-end on an OpenCL device.
//
// Conventions:
// - Depth images are 16-bit normalised: d millimetres are stored as d / 65535.
// - Vertex, normal and tangent maps are three floats per pixel, row by row;
//   an invalid pixel holds NaN in all three.
// - Volumes: voxel (i, j, k) at i + nx * (j + ny * k); distances in units of
//   the truncation distance, NaN where never observed; weights as bytes;
//   colours as RGBA bytes, A the colour weight.
// - Matrices are column-major floats.
// - Work sizes are rounded up: work items outside the image or volume return.
//
// COLOR_VOLUME adds the colour volume to initVolume, integrate and
// predictSurface.
//
// The host defines the tuning constants it shares with its own stages in
// front of this source: MAX_COLOR_WEIGHT, DISCONTINUITY_STEP (mm),
// TANGENT_SPAN (mm), NORMAL_NEIGHBOURHOOD (mm) and NUMERIC_GUARD.

__constant sampler_t pixelSampler =
    CLK_NORMALIZED_COORDS_FALSE | CLK_ADDRESS_CLAMP_TO_EDGE | CLK_FILTER_NEAREST;

// Whole millimetres of a normalised 16-bit depth image at (x, y).
int depthAt(__read_only image2d_t depth, int x, int y)
{
    return (int)(read_imagef(depth, pixelSampler, (int2)(x, y)).x * 65535.0f + 0.5f);
}

void writeDepth(__write_only image2d_t depth, int x, int y, int millimetres)
{
    write_imagef(depth, (int2)(x, y), (float4)((float)millimetres / 65535.0f, 0.0f, 0.0f, 0.0f));
}

float3 loadVector(__global const float* map, size_t pixel)
{
    return vload3(pixel, map);
}

void storeVector(__global float* map, size_t pixel, float3 v)
{
    vstore3(v, pixel, map);
}

bool isInvalid(float3 v)
{
    return isnan(v.x) || isnan(v.y) || isnan(v.z);
}

float3 invalidVector(void)
{
    return (float3)(NAN, NAN, NAN);
}

// Euclidean length.
float preciseLength(float3 v)
{
    return sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

// Rotation part of a column-major 4 x 4 matrix applied to v.
float3 rotate(__global const float* m, float3 v)
{
    return (float3)(m[0] * v.x + m[4] * v.y + m[8] * v.z, m[1] * v.x + m[5] * v.y + m[9] * v.z,
                    m[2] * v.x + m[6] * v.y + m[10] * v.z);
}

float3 transformPoint(__global const float* m, float3 v)
{
    return rotate(m, v) + (float3)(m[12], m[13], m[14]);
}

// ---------------------------------------------------------------------------
// Depth preprocessing

// Edge-preserving smoothing over a (2 radius + 1)^2 window clipped at the
// border; zero depth stays zero.
__kernel void bilateralFilter(__read_only image2d_t depth, __write_only image2d_t filtered,
                              const float spatialSigma, const float depthSigma, const int radius)
{
    const int x = (int)get_global_id(0);
    const int y = (int)get_global_id(1);
    const int w = get_image_width(depth);
    const int h = get_image_height(depth);
    if (x >= w || y >= h)
        return;
    const int d0 = depthAt(depth, x, y);
    if (d0 == 0) {
        writeDepth(filtered, x, y, 0);
        return;
    }
    const float rangeSigma = depthSigma * 65535.0f;
    const float spatialScale = 1.0f / (spatialSigma * spatialSigma);
    const float rangeScale = 1.0f / (rangeSigma * rangeSigma);
    float weightSum = 0.0f;
    float valueSum = 0.0f;
    for (int yy = max(y - radius, 0); yy <= min(h - 1, y + radius); ++yy) {
        for (int xx = max(x - radius, 0); xx <= min(w - 1, x + radius); ++xx) {
            const int d = depthAt(depth, xx, yy);
            const float dx = (float)(xx - x);
            const float dy = (float)(yy - y);
            const float dd = (float)(d - d0);
            const float weight = exp(-0.5f * ((dx * dx + dy * dy) * spatialScale + dd * dd * rangeScale));
            weightSum += weight;
            valueSum += weight * (float)d;
        }
    }
    writeDepth(filtered, x, y, (int)(valueSum / weightSum + 0.5f));
}

// Half-size depth: the mean of the 5 x 5 samples around (2x, 2y) that lie
// within three sigmas of the centre sample.
__kernel void downsample(__read_only image2d_t depth, __write_only image2d_t halved,
                         const float depthSigma)
{
    const int x = (int)get_global_id(0);
    const int y = (int)get_global_id(1);
    if (x >= get_image_width(halved) || y >= get_image_height(halved))
        return;
    const int w = get_image_width(depth);
    const int h = get_image_height(depth);
    const float band = 3.0f * depthSigma * 65535.0f;
    const int centre = depthAt(depth, 2 * x, 2 * y);
    int sum = 0;
    int count = 0;
    for (int yy = max(2 * y - 2, 0); yy <= min(h - 1, 2 * y + 2); ++yy) {
        for (int xx = max(2 * x - 2, 0); xx <= min(w - 1, 2 * x + 2); ++xx) {
            const int d = depthAt(depth, xx, yy);
            if ((float)abs(d - centre) < band) {
                sum += d;
                ++count;
            }
        }
    }
    writeDepth(halved, x, y, (int)((float)sum / (float)count + 0.5f));
}

__kernel void computeVertexMap(__read_only image2d_t depth, __global const float* inverseIntrinsics,
                               __global float* vertices)
{
    const int u = (int)get_global_id(0);
    const int v = (int)get_global_id(1);
    const int w = get_image_width(depth);
    if (u >= w || v >= get_image_height(depth))
        return;
    const float d = (float)depthAt(depth, u, v);
    const size_t pixel = (size_t)v * w + u;
    if (!(d > 0.0f)) {
        storeVector(vertices, pixel, invalidVector());
        return;
    }
    __global const float* k = inverseIntrinsics;
    const float du = d * (float)u;
    const float dv = d * (float)v;
    storeVector(vertices, pixel,
                (float3)(k[0] * du + k[3] * dv + k[6] * d, k[1] * du + k[4] * dv + k[7] * d,
                         k[2] * du + k[5] * dv + k[8] * d));
}

// Half the central differences of the vertex map, where both spans are
// shorter than TANGENT_SPAN (no depth edge in between).
__kernel void computeTangentMap(const int w, const int h, __global const float* vertices,
                                __global float* tangentX, __global float* tangentY)
{
    const int x = (int)get_global_id(0);
    const int y = (int)get_global_id(1);
    if (x >= w || y >= h)
        return;
    const size_t pixel = (size_t)y * w + x;
    float3 tx = invalidVector();
    float3 ty = invalidVector();
    if (x >= 1 && y >= 1 && x < w - 1 && y < h - 1) {
        const float3 centre = loadVector(vertices, pixel);
        const float3 left = loadVector(vertices, pixel - 1);
        const float3 right = loadVector(vertices, pixel + 1);
        const float3 up = loadVector(vertices, pixel - w);
        const float3 down = loadVector(vertices, pixel + w);
        if (!isInvalid(centre) && !isInvalid(left) && !isInvalid(right) && !isInvalid(up) &&
            !isInvalid(down)) {
            const float3 spanX = right - left;
            const float3 spanY = down - up;
            if (preciseLength(spanX) < TANGENT_SPAN && preciseLength(spanY) < TANGENT_SPAN) {
                tx = 0.5f * spanX;
                ty = 0.5f * spanY;
            }
        }
    }
    storeVector(tangentX, pixel, tx);
    storeVector(tangentY, pixel, ty);
}

// The unit normal from the tangents summed over the 4 x 4 window two pixels
// before to one after the centre, over the samples near the centre vertex.
__kernel void computeNormalMap(const int w, const int h, __global const float* vertices,
                               __global const float* tangentX, __global const float* tangentY,
                               __global float* normals)
{
    const int x = (int)get_global_id(0);
    const int y = (int)get_global_id(1);
    if (x >= w || y >= h)
        return;
    const size_t pixel = (size_t)y * w + x;
    float3 normal = invalidVector();
    const float3 centre = loadVector(vertices, pixel);
    if (x >= 1 && y >= 1 && x < w - 1 && y < h - 1 && !isInvalid(centre)) {
        float3 sumX = (float3)(0.0f);
        float3 sumY = (float3)(0.0f);
        int count = 0;
        for (int yy = max(y - 2, 0); yy <= y + 1; ++yy) {
            for (int xx = max(x - 2, 0); xx <= x + 1; ++xx) {
                const size_t sample = (size_t)yy * w + xx;
                if (!(preciseLength(loadVector(vertices, sample) - centre) < NORMAL_NEIGHBOURHOOD))
                    continue;
                sumX += loadVector(tangentX, sample);
                sumY += loadVector(tangentY, sample);
                ++count;
            }
        }
        if (count >= 4) {
            const float3 n = (float3)(sumY.y * sumX.z - sumY.z * sumX.y,
                                      sumY.z * sumX.x - sumY.x * sumX.z,
                                      sumY.x * sumX.y - sumY.y * sumX.x);
            normal = n / preciseLength(n);
        }
    }
    storeVector(normals, pixel, normal);
}

// How much the normal turns towards the four direct neighbours: the mean of
// 1 - cos over the valid ones; NaN without a normal or a valid neighbour.
__kernel void computeCurvatureMap(const int w, const int h, __global const float* vertices,
                                  __global const float* tangentX, __global const float* tangentY,
                                  __global const float* normals, __global float* curvature)
{
    const int x = (int)get_global_id(0);
    const int y = (int)get_global_id(1);
    if (x >= w || y >= h)
        return;
    const size_t pixel = (size_t)y * w + x;
    float result = NAN;
    const float3 n = loadVector(normals, pixel);
    if (x >= 1 && y >= 1 && x < w - 1 && y < h - 1 && !isInvalid(n)) {
        const size_t neighbours[4] = {pixel - 1, pixel + 1, pixel - w, pixel + w};
        float sum = 0.0f;
        int count = 0;
        for (int i = 0; i < 4; ++i) {
            const float3 m = loadVector(normals, neighbours[i]);
            if (isInvalid(m))
                continue;
            sum += 1.0f - dot(n, m);
            ++count;
        }
        if (count > 0)
            result = sum / (float)count;
    }
    curvature[pixel] = result;
}

// ---------------------------------------------------------------------------
// Volumes

size_t voxelIndex(int i, int j, int k, int4 n)
{
    return (size_t)i + (size_t)n.x * ((size_t)j + (size_t)n.y * (size_t)k);
}

__kernel void initVolume(__global float* tsdf, __global uchar* weights,
#ifdef COLOR_VOLUME
                         __global uchar4* colors,
#endif
                         const int4 resolution)
{
    const int i = (int)get_global_id(0);
    const int j = (int)get_global_id(1);
    if (i >= resolution.x || j >= resolution.y)
        return;
    for (int k = 0; k < resolution.z; ++k) {
        const size_t voxel = voxelIndex(i, j, k, resolution);
        tsdf[voxel] = NAN;
        weights[voxel] = 0;
#ifdef COLOR_VOLUME
        colors[voxel] = (uchar4)(0);
#endif
    }
}

// Depth converted to distance along the pixel's ray, rounded to whole
// millimetres (saturating at the 16-bit limit).
__kernel void scaleDepthMap(__read_only image2d_t depth, __write_only image2d_t rayDistance,
                            const float4 intrinsics)
{
    const int u = (int)get_global_id(0);
    const int v = (int)get_global_id(1);
    if (u >= get_image_width(depth) || v >= get_image_height(depth))
        return;
    const float a = ((float)u - intrinsics.z) / intrinsics.x;
    const float b = ((float)v - intrinsics.w) / intrinsics.y;
    const float factor = sqrt((a * a + 1.0f) + b * b);
    const float distance = min(factor * (float)depthAt(depth, u, v) + 0.5f, 65535.0f);
    writeDepth(rayDistance, u, v, (int)distance);
}

// 1 where the pixel has depth and no sample of its 5 x 5 window differs from
// it by more than DISCONTINUITY_STEP, else 0.
__kernel void computeDepthDiscontinuityMap(__read_only image2d_t depth, __global float* mask)
{
    const int x = (int)get_global_id(0);
    const int y = (int)get_global_id(1);
    const int w = get_image_width(depth);
    const int h = get_image_height(depth);
    if (x >= w || y >= h)
        return;
    const int d0 = depthAt(depth, x, y);
    bool reliable = d0 != 0;
    for (int yy = max(y - 2, 0); reliable && yy <= min(h - 1, y + 2); ++yy)
        for (int xx = max(x - 2, 0); reliable && xx <= min(w - 1, x + 2); ++xx)
            if ((float)abs(depthAt(depth, xx, yy) - d0) > DISCONTINUITY_STEP)
                reliable = false;
    mask[(size_t)y * w + x] = reliable ? 1.0f : 0.0f;
}

// Moves the truncated signed distance of every voxel of the column (i, j) in
// front of the camera, that projects onto a reliable pixel, towards what that
// pixel measures; with colours, blends the pixel's colour in.
__kernel void integrate(__read_only image2d_t rayDistance,
#ifdef COLOR_VOLUME
                        __read_only image2d_t colorImage,
#endif
                        __global float* tsdf, __global uchar* weights,
#ifdef COLOR_VOLUME
                        __global uchar4* colors,
#endif
                        const int4 resolution, const float4 voxelSize, const float4 intrinsics,
                        __global const float* pose, const float truncation, const uchar maxWeight,
#ifdef COLOR_VOLUME
                        __global const float* normals,
#endif
                        __global const float* mask)
{
    const int i = (int)get_global_id(0);
    const int j = (int)get_global_id(1);
    if (i >= resolution.x || j >= resolution.y)
        return;
    const int w = get_image_width(rayDistance);
    const int h = get_image_height(rayDistance);
    const float x = ((float)i + 0.5f - (float)resolution.x / 2.0f) * voxelSize.x;
    const float y = ((float)j + 0.5f - (float)resolution.y / 2.0f) * voxelSize.y;
    const float3 columnPart = (float3)(pose[0] * x + pose[4] * y + pose[12],
                                       pose[1] * x + pose[5] * y + pose[13],
                                       pose[2] * x + pose[6] * y + pose[14]);
    const float3 zAxis = (float3)(pose[8], pose[9], pose[10]);
    const float zOffset = (0.5f - (float)resolution.z / 2.0f) * voxelSize.z;
    for (int k = 0; k < resolution.z; ++k) {
        const float z = (float)k * voxelSize.z + zOffset;
        const float3 p = columnPart + zAxis * z;
        if (p.z <= 0.0f)
            continue;
        const float uf = p.x * intrinsics.x / p.z + intrinsics.z + 0.5f;
        const float vf = p.y * intrinsics.y / p.z + intrinsics.w + 0.5f;
        if (!(uf > -1.0f && uf < (float)w && vf > -1.0f && vf < (float)h))
            continue;
        const int u = (int)uf;
        const int v = (int)vf;
        const size_t pixel = (size_t)v * w + u;
        const int r = depthAt(rayDistance, u, v);
        if (mask[pixel] == 0.0f || r == 0)
            continue;
        const float sdf = (float)r - preciseLength(p);
        if (sdf < -truncation)
            continue;
        const float observed = min(sdf / truncation, 1.0f);
        const size_t voxel = voxelIndex(i, j, k, resolution);
        const float old = tsdf[voxel];
        const int weight = weights[voxel];
        tsdf[voxel] = isnan(old) ? observed : ((float)weight * old + observed) / (float)(weight + 1);
        weights[voxel] = (uchar)min(weight + 1, (int)maxWeight);
#ifdef COLOR_VOLUME
        const float4 rgba = read_imagef(colorImage, pixelSampler, (int2)(u, v));
        const int3 pixelColor = convert_int3_rte(rgba.xyz * 255.0f);
        uchar4 voxelColor = colors[voxel];
        if (voxelColor.w == 0) {
            colors[voxel] = (uchar4)(convert_uchar3(pixelColor), 1);
            continue;
        }
        const float facing = fabs(normals[3 * pixel + 2]);
        if (isnan(facing))
            continue;
        const float colorWeight = (float)voxelColor.w;
        const float3 blended = ((float3)((float)pixelColor.x, (float)pixelColor.y, (float)pixelColor.z) * facing +
                                convert_float3(voxelColor.xyz) * colorWeight) /
                               (facing + colorWeight);
        colors[voxel] = (uchar4)(convert_uchar3_rtz(blended), (uchar)min((int)voxelColor.w + 1, MAX_COLOR_WEIGHT));
#endif
    }
}

// ---------------------------------------------------------------------------
// Surface prediction

// Index of the voxel nearest to the continuous voxel position u, clamped.
size_t nearestVoxel(float3 u, int4 n)
{
    const int i = (int)clamp(u.x + 0.5f, 0.0f, (float)(n.x - 1));
    const int j = (int)clamp(u.y + 0.5f, 0.0f, (float)(n.y - 1));
    const int k = (int)clamp(u.z + 0.5f, 0.0f, (float)(n.z - 1));
    return voxelIndex(i, j, k, n);
}

// Trilinear distance at voxel position u; NaN when a corner is unobserved.
float interpolateTsdf(__global const float* tsdf, int4 n, float3 u)
{
    const float3 clamped = clamp(u, (float3)(-1.0f), convert_float3(n.xyz));
    const int3 below = convert_int3(floor(clamped));
    const int3 lo = clamp(below, (int3)(0), n.xyz - 1);
    const int3 hi = clamp(below + 1, (int3)(0), n.xyz - 1);
    const float3 f = u - convert_float3(lo);
    const float lower = tsdf[voxelIndex(lo.x, lo.y, lo.z, n)] * (1 - f.x) * (1 - f.y) +
                        tsdf[voxelIndex(hi.x, lo.y, lo.z, n)] * f.x * (1 - f.y) +
                        tsdf[voxelIndex(lo.x, hi.y, lo.z, n)] * (1 - f.x) * f.y +
                        tsdf[voxelIndex(hi.x, hi.y, lo.z, n)] * f.x * f.y;
    const float upper = tsdf[voxelIndex(lo.x, lo.y, hi.z, n)] * (1 - f.x) * (1 - f.y) +
                        tsdf[voxelIndex(hi.x, lo.y, hi.z, n)] * f.x * (1 - f.y) +
                        tsdf[voxelIndex(lo.x, hi.y, hi.z, n)] * (1 - f.x) * f.y +
                        tsdf[voxelIndex(hi.x, hi.y, hi.z, n)] * f.x * f.y;
    return lower * (1 - f.z) + upper * f.z;
}

float3 toVoxel(float3 p, float3 s, int4 n)
{
    return p / s + convert_float3(n.xyz) / 2.0f - 0.5f;
}

// Casts the ray of pixel (x, y) through the distance volume and writes its
// first front-facing zero crossing (volume frame), the normal there, the
// shaded scene pixel and the hit mask; a miss leaves NaN maps, the grey
// background and mask 0.
__kernel void predictSurface(__global const float* tsdf,
#ifdef COLOR_VOLUME
                             __global const uchar4* colors,
#endif
                             const int4 resolution, const float4 voxelSize, const float4 cameraCentre,
                             __global const float* rayMatrix, const float step,
                             const float stepCount, const int width, const int height,
                             __global float* vertices, __global float* normals,
                             const float4 voxelCameraCentre, __global uchar* scene,
#ifdef COLOR_VOLUME
                             const uchar showColor,
#endif
                             __global float* mask)
{
    const int x = (int)get_global_id(0);
    const int y = (int)get_global_id(1);
    if (x >= width || y >= height)
        return;
    const size_t pixel = (size_t)y * width + x;
    const float3 s = voxelSize.xyz;
    const float3 c = cameraCentre.xyz;
    __global const float* m = rayMatrix;
    const float3 d = (float3)(m[0] * x + m[3] * y + m[6], m[1] * x + m[4] * y + m[7],
                              m[2] * x + m[5] * y + m[8]);

    // Background and miss values first; a hit overwrites them.
    const float t = height > 1 ? (float)y / (float)(height - 1) : 0.0f;
    const uchar grey = (uchar)((1.0f - t) * 55.0f + t * 95.0f);
    vstore3((uchar3)(grey), pixel, scene);
    storeVector(vertices, pixel, invalidVector());
    storeVector(normals, pixel, invalidVector());
    mask[pixel] = 0.0f;

    // Slab test against the volume box.
    const float3 e = convert_float3(resolution.xyz) * 0.5f * s;
    const float3 inv = 1.0f / d;
    const float3 t1 = (-e - c) * inv;
    const float3 t2 = (e - c) * inv;
    if (any(isnan(t1)) || any(isnan(t2)))
        return;
    const float3 tMin = fmin(t1, t2);
    const float3 tMax = fmax(t1, t2);
    const float tNear = fmax(fmax(tMin.x, tMin.y), tMin.z);
    const float tFar = fmin(fmin(tMax.x, tMax.y), tMax.z);
    if (tFar <= tNear || tFar <= 0.0f)
        return;
    const float3 start = tNear < 0.0f ? voxelCameraCentre.xyz * convert_float3(resolution.xyz)
                                      : toVoxel(c + tNear * d, s, resolution);
    const float3 end = toVoxel(c + tFar * d, s, resolution);

    // Coarse march on the nearest voxels.
    const float3 span = end - start;
    const float spanLength = length(span);
    const float3 v = span / spanLength;
    const int steps = (int)floor(spanLength / step);
    const float3 stride = step * v;
    float previous = tsdf[nearestVoxel(start, resolution)];
    float3 p = start + stride;
    bool found = false;
    for (int k = 1; k < steps; ++k) {
        const float f = tsdf[nearestVoxel(p, resolution)];
        if (previous >= 0.0f && f <= 0.0f) {
            found = true;
            break;
        }
        if (previous < 0.0f && f > 0.0f)
            return;  // left the back of a surface
        previous = f;
        p += stride;
    }
    if (!found)
        return;

    // Three bisections, then linear interpolation.
    float3 a = p - stride;
    float3 b = p;
    float fa = interpolateTsdf(tsdf, resolution, a);
    float fb = interpolateTsdf(tsdf, resolution, b);
    for (int i = 0; i < 3; ++i) {
        const float3 mid = 0.5f * (a + b);
        const float fm = interpolateTsdf(tsdf, resolution, mid);
        if (fm < 0.0f) {
            b = mid;
            fb = fm;
        } else {
            a = mid;
            fa = fm;
        }
    }
    const float ratio = fabs(fb - fa) > NUMERIC_GUARD ? -fa / (fb - fa) : 0.5f;
    const float3 hit = a + ratio * (b - a);

    // Normal from forward differences at the fine step.
    const float fine = 4.0f * step / stepCount;
    const float f0 = interpolateTsdf(tsdf, resolution, hit);
    const float3 g = (float3)(interpolateTsdf(tsdf, resolution, hit + (float3)(fine, 0.0f, 0.0f)) - f0,
                              interpolateTsdf(tsdf, resolution, hit + (float3)(0.0f, fine, 0.0f)) - f0,
                              interpolateTsdf(tsdf, resolution, hit + (float3)(0.0f, 0.0f, fine)) - f0);
    const float gLength = length(g);
    if (isInvalid(g) || !(gLength >= NUMERIC_GUARD))
        return;
    const float3 n = g / gLength;
    const float3 q = (hit - convert_float3(resolution.xyz) / 2.0f + 0.5f) * s;
    storeVector(vertices, pixel, q);
    storeVector(normals, pixel, n);

    const float shade = 0.2f + 0.8f * fabs(dot(n, normalize(q - c)));
    float3 rgb = (float3)(1.0f, 1.0f, 0.0f);
#ifdef COLOR_VOLUME
    if (showColor)
        rgb = convert_float3(colors[nearestVoxel(hit, resolution)].xyz) / 255.0f;
#endif
    vstore3(convert_uchar3_sat_rtz(255.0f * rgb * shade), pixel, scene);
    mask[pixel] = 1.0f;
}

// Half-size map of 3-vectors: the mean of the 3 x 3 window around (2x, 2y),
// not re-normalised. With `anyInvalid` an invalid sample makes the result
// invalid; otherwise invalid samples are skipped and the result is invalid
// only when none is left.
void downsampleMap(__global const float* map, __global float* halved, int w, int h,
                   int halfWidth, int halfHeight, bool anyInvalid)
{
    const int x = (int)get_global_id(0);
    const int y = (int)get_global_id(1);
    if (x >= halfWidth || y >= halfHeight)
        return;
    float3 sum = (float3)(0.0f);
    int count = 0;
    bool invalid = false;
    for (int yy = max(2 * y - 1, 0); yy <= min(h - 1, 2 * y + 1); ++yy) {
        for (int xx = max(2 * x - 1, 0); xx <= min(w - 1, 2 * x + 1); ++xx) {
            const float3 sample = loadVector(map, (size_t)yy * w + xx);
            if (isInvalid(sample)) {
                invalid = invalid || anyInvalid;
                continue;
            }
            sum += sample;
            ++count;
        }
    }
    storeVector(halved, (size_t)y * halfWidth + x,
                invalid || count == 0 ? invalidVector() : sum * (1.0f / (float)count));
}

__kernel void downsampleVertexMap(__global const float* vertices, __global float* halved,
                                  const int w, const int h, const int halfWidth,
                                  const int halfHeight)
{
    downsampleMap(vertices, halved, w, h, halfWidth, halfHeight, true);
}

__kernel void downsampleNormalMap(__global const float* normals, __global float* halved,
                                  const int w, const int h, const int halfWidth,
                                  const int halfHeight)
{
    downsampleMap(normals, halved, w, h, halfWidth, halfHeight, false);
}

// ---------------------------------------------------------------------------
// ICP rows

// Point-to-plane rows of pixel (x, y): the predicted vertex there is projected
// into the current frame; the pair is kept when the measured vertex at the
// projection is near and the normals agree. Writes the 21 upper-triangle
// products a_i a_j and the 6 products a_i r, zeros without a pair.
__kernel void computeICP(__global const float* predictedVertices,
                         __global const float* predictedNormals, __global const float* vertices,
                         __global const float* normals, const float4 intrinsics,
                         __global const float* estimate, __global const float* inverseEstimate,
                         const int w, const int h, __global float* matrixRows,
                         __global float* vectorRows, const float maxDistance, const float cosLimit)
{
    const int x = (int)get_global_id(0);
    const int y = (int)get_global_id(1);
    if (x >= w || y >= h)
        return;
    const size_t planeSize = (size_t)w * h;
    const size_t pixel = (size_t)y * w + x;

    bool matched = false;
    float a[6];
    float r = 0.0f;
    if (x != 0 && y != 0 && x != w - 1 && y != h - 1) {
        const float3 q = loadVector(predictedVertices, pixel);
        const float3 p = transformPoint(inverseEstimate, q);
        if (!isInvalid(q) && fabs(p.z) > 1e-6f) {
            const float uf = floor((intrinsics.x * p.x + intrinsics.z * p.z) / p.z + 0.5f);
            const float vf = floor((intrinsics.y * p.y + intrinsics.w * p.z) / p.z + 0.5f);
            if (uf >= 1.0f && uf <= (float)(w - 2) && vf >= 1.0f && vf <= (float)(h - 2)) {
                const size_t match = (size_t)vf * w + (size_t)uf;
                const float3 mv = loadVector(vertices, match);
                const float3 measuredNormal = loadVector(normals, match);
                const float3 n = loadVector(predictedNormals, match);
                const float3 rotatedNormal = rotate(inverseEstimate, n);
                if (!isInvalid(mv) && preciseLength(p - mv) < maxDistance &&
                    fabs(dot(rotatedNormal, measuredNormal)) > cosLimit) {
                    const float3 s = transformPoint(estimate, mv);
                    a[0] = n.y * s.z - n.z * s.y;
                    a[1] = n.z * s.x - n.x * s.z;
                    a[2] = n.x * s.y - n.y * s.x;
                    a[3] = n.x;
                    a[4] = n.y;
                    a[5] = n.z;
                    r = n.x * (q.x - s.x) + n.y * (q.y - s.y) + n.z * (q.z - s.z);
                    matched = true;
                }
            }
        }
    }
    int k = 0;
    for (int i = 0; i < 6; ++i)
        for (int j = i; j < 6; ++j)
            matrixRows[k++ * planeSize + pixel] = matched ? a[i] * a[j] : 0.0f;
    for (int i = 0; i < 6; ++i)
        vectorRows[i * planeSize + pixel] = matched ? a[i] * r : 0.0f;
}
