// Sums of the first n elements of a buffer, one partial sum per work-group.
// TYPENAME is the element type, set with -D TYPENAME=... when building.
#ifndef TYPENAME
#define TYPENAME float
#endif

// Total of `value` over the work-group, through one float of local memory per
// work-item. The local size must be a power of two.
float workGroupTotal(float value, __local float* scratch)
{
    const int lid = (int)get_local_id(0);
    scratch[lid] = value;
    barrier(CLK_LOCAL_MEM_FENCE);
    for (int active = (int)get_local_size(0) / 2; active > 0; active /= 2) {
        if (lid < active)
            scratch[lid] += scratch[lid + active];
        barrier(CLK_LOCAL_MEM_FENCE);
    }
    return scratch[0];
}

// Each work-group covers 2 * local size elements per step and steps through the
// input by 2 * local size * group count until n is reached; its partial sum goes
// to output[group index].
__kernel void reduce(__global const TYPENAME* input, __global float* output, const int n,
                     __local float* scratch)
{
    const long localSize = (long)get_local_size(0);
    const long stride = 2 * localSize * (long)get_num_groups(0);
    float sum = 0.0f;
    for (long i = 2 * localSize * (long)get_group_id(0) + (long)get_local_id(0); i < n;
         i += stride) {
        sum += (float)input[i];
        if (i + localSize < n)
            sum += (float)input[i + localSize];
    }
    sum = workGroupTotal(sum, scratch);
    if (get_local_id(0) == 0)
        output[get_group_id(0)] = sum;
}

// Final pass over n partial sums: the first work-group adds them all into
// output[0]; further work-groups have nothing to do.
__kernel void reduceFinal(__global const TYPENAME* input, __global float* output, const int n,
                          __local float* scratch)
{
    if (get_group_id(0) != 0)
        return;
    float sum = 0.0f;
    for (int i = (int)get_local_id(0); i < n; i += (int)get_local_size(0))
        sum += (float)input[i];
    sum = workGroupTotal(sum, scratch);
    if (get_local_id(0) == 0)
        output[0] = sum;
}
