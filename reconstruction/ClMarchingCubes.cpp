#include "reconstruction/ClMarchingCubes.h"

#include "core/ClEnvironment.h"
#include "core/ClImage.h"
#include "core/ClKernel.h"
#include "core/ClProgram.h"
#include "core/Logging.h"
#include "core/Mesh.h"
#include "reconstruction/KernelLaunch.h"
#include "reconstruction/MarchingCubesTables.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace Veltrane {

namespace {

const char* const programName = "MarchingCubes";
const char* const normalsOption = "-D COMPUTE_NORMALS ";
const char* const colorsOption = "-D COMPUTE_COLORS ";
constexpr std::size_t generateLocalSize = 32;

std::unique_ptr<ClImage> uintBuffer(std::uint32_t count, ClEnvironment* environment)
{
    return std::make_unique<ClImage>(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite,
                                     Image(PixelType::UnsignedInt, static_cast<int>(count), 1, 1, 1),
                                     nullptr, 0, 0, environment);
}

std::unique_ptr<ClImage> float4Buffer(std::uint32_t count, ClEnvironment* environment)
{
    return std::make_unique<ClImage>(ClMemoryKind::Buffer, ClMemoryAccess::WriteOnly,
                                     Image(PixelType::Float, static_cast<int>(count), 1, 1, 4),
                                     nullptr, 0, 0, environment);
}

std::unique_ptr<ClImage> byteTable(int width, int height, const unsigned char* bytes,
                                   ClEnvironment* environment)
{
    return std::make_unique<ClImage>(ClMemoryKind::ImageObject, ClMemoryAccess::ReadOnly,
                                     Image(PixelType::UnsignedByte, width, height, 1, 1), bytes,
                                     CL_R, CL_UNSIGNED_INT8, environment);
}

/// Appends the faces, vertices and attributes of `part` to `mesh`.
void appendMesh(Mesh& mesh, const Mesh& part)
{
    const int offset = static_cast<int>(mesh.vertices().size());
    const Mesh::Triple shift(offset, offset, offset);
    const auto append = [&shift](std::vector<Mesh::Triple>& to, const std::vector<Mesh::Triple>& from) {
        for (const Mesh::Triple& t : from)
            to.push_back(t + shift);
    };
    append(mesh.faces(), part.faces());
    append(mesh.normalIndices(), part.normalIndices());
    append(mesh.texCoordIndices(), part.texCoordIndices());
    append(mesh.colorIndices(), part.colorIndices());
    const auto appendValues = [](std::vector<Mesh::Vector>& to, const std::vector<Mesh::Vector>& from) {
        to.insert(to.end(), from.begin(), from.end());
    };
    appendValues(mesh.vertices(), part.vertices());
    appendValues(mesh.normals(), part.normals());
    appendValues(mesh.texCoords(), part.texCoords());
    appendValues(mesh.colors(), part.colors());
}

}  // namespace

void ClMarchingCubes::Kernels::create()
{
    classifyVoxels = program->createKernel("classifyVoxels");
    compactVoxels = program->createKernel("compactVoxels");
    generateTriangles = program->createKernel("generateTriangles");
}

ClMarchingCubes::ClMarchingCubes(ClEnvironment* environment)
    : m_environment(environment ? environment : ClEnvironment::defaultEnvironment())
{
    if (init() < 0)
        throw std::runtime_error("Couldn't initialize OpenCL context for Marching Cubes");
}

ClMarchingCubes::~ClMarchingCubes()
{
    releaseBuffers();
}

int ClMarchingCubes::init()
{
    const auto build = [this](Kernels& kernels, const char* options, const char* missingMessage) {
        try {
            kernels.program = std::make_unique<ClProgram>(programName, std::string(), options,
                                                          m_environment);
        } catch (const std::runtime_error&) {
            VELTRANE_ERROR(missingMessage);
            return false;
        }
        kernels.create();
        if (!kernels.classifyVoxels->isValid() || !kernels.compactVoxels->isValid() ||
            !kernels.generateTriangles->isValid()) {
            VELTRANE_ERROR("Couldn't create kernel");
            return false;
        }
        return true;
    };
    if (!build(m_plain, "", "Couldn't find Marching Cubes program") ||
        !build(m_color, colorsOption, "Couldn't find MarchingCubes program"))
        return -1;

    try {
        std::vector<unsigned char> triangles(16 * 256);
        for (int c = 0; c < 256; ++c)
            for (int k = 0; k < 16; ++k)
                triangles[16 * c + k] = static_cast<unsigned char>(marchingCubesTriangleTable[c][k]);
        m_triangleTable = byteTable(16, 256, triangles.data(), m_environment);
        m_vertexCountTable = byteTable(256, 1, marchingCubesTriangleEntries, m_environment);
    } catch (const std::exception&) {
        return -2;
    }
    return 0;
}

ClMarchingCubes::Kernels* ClMarchingCubes::kernelsFor(const std::string& options)
{
    if (m_plain.program->options() == options)
        return &m_plain;
    if (m_color.program->options() == options)
        return &m_color;
    try {
        m_plain.program->setOptions(options);
        m_plain.create();
    } catch (const std::exception&) {
        return nullptr;
    }
    if (m_voxelCount > 0 && !setSlabWorkSizes(m_plain))
        return nullptr;
    return &m_plain;
}

bool ClMarchingCubes::setSlabWorkSizes(Kernels& kernels)
{
    for (ClKernel* kernel : {kernels.classifyVoxels.get(), kernels.compactVoxels.get()}) {
        std::size_t size = m_voxelCount;
        if (!kernel->setWorkSize(1, &size))
            return false;
    }
    return true;
}

bool ClMarchingCubes::allocateBuffers(const std::array<int, 3>& slabSize,
                                      const std::array<float, 3>& extent)
{
    m_slabSize = {slabSize[0], slabSize[1], slabSize[2], 0};
    m_voxelCount = static_cast<std::uint32_t>(slabSize[0]) * static_cast<std::uint32_t>(slabSize[1]) *
                   static_cast<std::uint32_t>(slabSize[2]);
    m_voxelSpacing = {extent[0] / static_cast<float>(slabSize[0]), extent[1] / static_cast<float>(slabSize[1]),
                      extent[2] / static_cast<float>(slabSize[2]), 0.0f};
    try {
        m_vertexCounts = uintBuffer(m_voxelCount, m_environment);
        m_vertexOffsets = uintBuffer(m_voxelCount, m_environment);
        m_occupancy = uintBuffer(m_voxelCount, m_environment);
        m_occupancyOffsets = uintBuffer(m_voxelCount, m_environment);
        m_activeVoxels = uintBuffer(m_voxelCount, m_environment);
        m_hostCounts.assign(m_voxelCount, 0);
        m_hostOffsets.assign(m_voxelCount, 0);
        for (Kernels* kernels : {&m_plain, &m_color})
            if (!setSlabWorkSizes(*kernels))
                throw std::runtime_error("work size");
    } catch (const std::exception&) {
        // Forget the size so that the next run tries again.
        releaseBuffers();
        return false;
    }
    return true;
}

void ClMarchingCubes::releaseOutputBuffers()
{
    m_outPositions.reset();
    m_outNormals.reset();
    m_outColors.reset();
    m_vertexCapacity = 0;
}

void ClMarchingCubes::releaseBuffers()
{
    m_vertexCounts.reset();
    m_vertexOffsets.reset();
    m_occupancy.reset();
    m_occupancyOffsets.reset();
    m_activeVoxels.reset();
    releaseOutputBuffers();
    m_hostCounts = {};
    m_hostOffsets = {};
    m_slabSize = {0, 0, 0, 0};
    m_voxelCount = 0;
}

bool ClMarchingCubes::allocateOutputBuffers(bool normals, bool colors)
{
    if (m_totalVertices <= m_vertexCapacity && (!normals || m_outNormals) && (!colors || m_outColors))
        return true;
    releaseOutputBuffers();
    try {
        m_outPositions = float4Buffer(m_totalVertices, m_environment);
        if (normals)
            m_outNormals = float4Buffer(m_totalVertices, m_environment);
        if (colors)
            m_outColors = float4Buffer(m_totalVertices, m_environment);
    } catch (const std::exception&) {
        releaseOutputBuffers();
        VELTRANE_ERROR("Couldn't allocate buffers for Marching Cubes results");
        return false;
    }
    m_vertexCapacity = m_totalVertices;
    return true;
}

bool ClMarchingCubes::scan(ClImage& counts, ClImage& offsets, std::uint32_t& total)
{
    const std::size_t bytes = m_hostCounts.size() * sizeof(std::uint32_t);
    if (!counts.read(m_hostCounts.data(), bytes))
        return false;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < m_hostCounts.size(); ++i) {
        m_hostOffsets[i] = static_cast<std::uint32_t>(sum);
        sum += m_hostCounts[i];
    }
    if (sum > static_cast<std::uint64_t>(std::numeric_limits<int>::max()))
        return false;
    if (!offsets.write(m_hostOffsets.data(), bytes))
        return false;
    total = static_cast<std::uint32_t>(sum);
    return true;
}

bool ClMarchingCubes::run(const ClImage* volume, const ClImage* colors, float isoValue,
                          ClImage** positions, ClImage** normals, ClImage** outColors,
                          int* vertexCount, int firstSlice, int sliceCount)
{
    for (ClImage** output : {positions, normals, outColors})
        if (output)
            *output = nullptr;
    if (vertexCount)
        *vertexCount = 0;
    if (!volume || !positions || !vertexCount)
        return false;
    const bool withColors = outColors != nullptr && colors != nullptr;
    Slab slab{volume, withColors ? colors : nullptr, isoValue, firstSlice, sliceCount, normals != nullptr};
    Kernels* kernels = kernelsFor(slab);
    if (!kernels || !prepareSlab(slab))
        return false;

    if (!classify(*kernels, slab))
        return false;
    if (m_activeVoxelCount == 0) {
        m_totalVertices = 0;
        return true;
    }
    if (!compact(*kernels) || !generate(*kernels, slab))
        return false;

    *positions = m_outPositions.get();
    if (normals)
        *normals = m_outNormals.get();
    if (withColors)
        *outColors = m_outColors.get();
    *vertexCount = static_cast<int>(m_totalVertices);
    return true;
}

ClMarchingCubes::Kernels* ClMarchingCubes::kernelsFor(const Slab& slab)
{
    std::string options;
    if (slab.withNormals)
        options += normalsOption;
    if (slab.colors)
        options += colorsOption;
    return kernelsFor(options);
}

bool ClMarchingCubes::prepareSlab(Slab& slab)
{
    const ClImage& volume = *slab.volume;
    const ClImage* colors = slab.colors;
    if (volume.type != PixelType::Float || volume.channels != 1 ||
        (colors && (colors->type != PixelType::UnsignedByte || colors->channels != 4 ||
                    colors->width != volume.width || colors->height != volume.height ||
                    colors->slices != volume.slices))) {
        VELTRANE_ERROR("Marching Cubes: the distance and colour volumes do not fit together");
        return false;
    }
    if (slab.sliceCount == 0)
        slab.sliceCount = volume.slices;
    if (slab.firstSlice < 0 || slab.sliceCount < 1 || slab.firstSlice + slab.sliceCount > volume.slices ||
        volume.width < 1 || volume.height < 1)
        return false;
    if (volume.width == m_slabSize[0] && volume.height == m_slabSize[1] && slab.sliceCount == m_slabSize[2])
        return true;
    releaseBuffers();
    const std::array<float, 3> extent{static_cast<float>(volume.width * volume.spacing[0]),
                                      static_cast<float>(volume.height * volume.spacing[1]),
                                      static_cast<float>(slab.sliceCount * volume.spacing[2])};
    return allocateBuffers({volume.width, volume.height, slab.sliceCount}, extent);
}

bool ClMarchingCubes::classify(Kernels& kernels, const Slab& slab)
{
    KernelLaunch launch(*kernels.classifyVoxels, "Couldn't execute classifyVoxels kernel (");
    launch.image(m_vertexCounts.get())
        .image(m_occupancy.get())
        .image(slab.volume)
        .vector4(m_slabSize.data())
        .vector4(m_voxelSpacing.data())
        .scalar(slab.firstSlice)
        .scalar(slab.volume->slices)
        .scalar(slab.isoValue)
        .image(m_vertexCountTable.get());
    if (!launch.run())
        return false;
    if (!scan(*m_occupancy, *m_occupancyOffsets, m_activeVoxelCount)) {
        VELTRANE_ERROR("Couldn't scan the occupied voxels");
        return false;
    }
    return true;
}

bool ClMarchingCubes::compact(Kernels& kernels)
{
    KernelLaunch launch(*kernels.compactVoxels, "Couldn't execute compactVoxels kernel (");
    launch.image(m_activeVoxels.get())
        .image(m_occupancy.get())
        .image(m_occupancyOffsets.get())
        .scalar(static_cast<int>(m_voxelCount));
    if (!launch.run())
        return false;
    if (!scan(*m_vertexCounts, *m_vertexOffsets, m_totalVertices)) {
        VELTRANE_ERROR("Couldn't download vertex count array");
        return false;
    }
    return true;
}

bool ClMarchingCubes::generate(Kernels& kernels, const Slab& slab)
{
    if (!allocateOutputBuffers(slab.withNormals, slab.colors != nullptr))
        return false;
    KernelLaunch launch(*kernels.generateTriangles, "Couldn't execute generateTriangles kernel (");
    launch.image(m_outPositions.get());
    if (slab.withNormals)
        launch.image(m_outNormals.get());
    if (slab.colors)
        launch.image(m_outColors.get());
    launch.image(m_activeVoxels.get()).image(m_vertexOffsets.get()).image(slab.volume);
    if (slab.colors)
        launch.image(slab.colors);
    launch.vector4(m_slabSize.data())
        .vector4(m_voxelSpacing.data())
        .scalar(slab.firstSlice)
        .scalar(slab.volume->slices)
        .scalar(slab.isoValue)
        .scalar(static_cast<int>(m_activeVoxelCount))
        .scalar(static_cast<int>(m_vertexCapacity))
        .image(m_vertexCountTable.get())
        .image(m_triangleTable.get());
    const std::size_t local = generateLocalSize;
    const std::size_t global = (m_activeVoxelCount + local - 1) / local * local;
    return launch.enqueue(1, &global, &local);
}

std::unique_ptr<Mesh> ClMarchingCubes::downloadMesh(ClImage* positions, ClImage* normals,
                                                    ClImage* colors, int count)
{
    if (!positions || count < 1)
        return nullptr;
    const std::size_t floats = 4 * static_cast<std::size_t>(count);
    const auto read = [floats](ClImage* source, std::vector<float>& values) {
        values.resize(floats);
        return source->read(values.data(), floats * sizeof(float), floats * sizeof(float));
    };
    std::vector<float> p, n, c;
    if (!read(positions, p) || (normals && !read(normals, n)) || (colors && !read(colors, c))) {
        VELTRANE_ERROR("Couldn't download the Marching Cubes results");
        return nullptr;
    }

    auto mesh = std::make_unique<Mesh>();
    mesh->vertices().reserve(count);
    for (int i = 0; i < count; ++i)
        mesh->vertices().emplace_back(p[4 * i], p[4 * i + 1], p[4 * i + 2]);
    for (int k = 0; k < count / 3; ++k)
        mesh->faces().emplace_back(3 * k + 2, 3 * k + 1, 3 * k);
    if (normals) {
        // The kernel's normals follow the corner order it wrote; the faces
        // are stored reversed, so the normals are turned round with them.
        for (int i = 0; i < count; ++i)
            mesh->normals().emplace_back(-n[4 * i], -n[4 * i + 1], -n[4 * i + 2]);
        mesh->normalIndices() = mesh->faces();
    }
    if (colors) {
        for (int i = 0; i < count; ++i)
            mesh->colors().emplace_back(c[4 * i], c[4 * i + 1], c[4 * i + 2]);
        mesh->colorIndices() = mesh->faces();
    }
    return mesh;
}

std::unique_ptr<Mesh> ClMarchingCubes::computeMesh(const ClImage* volume, const ClImage* colors,
                                                   float isoValue, std::uint32_t slabVoxels)
{
    if (!volume || volume->width < 1 || volume->height < 1 || volume->slices < 1)
        return nullptr;
    const std::uint64_t sliceVoxels = static_cast<std::uint64_t>(volume->width) * volume->height;
    const int slabSlices = static_cast<int>(
        std::min<std::uint64_t>(volume->slices, std::max<std::uint64_t>(1, slabVoxels / sliceVoxels)));

    std::unique_ptr<Mesh> joined;
    for (int first = 0; first < volume->slices; first += slabSlices) {
        const int n = std::min(slabSlices, volume->slices - first);
        ClImage* positions = nullptr;
        ClImage* vertexColors = nullptr;
        int count = 0;
        if (!run(volume, colors, isoValue, &positions, nullptr, colors ? &vertexColors : nullptr,
                 &count, first, n))
            return nullptr;
        if (count == 0)
            continue;
        std::unique_ptr<Mesh> slab = downloadMesh(positions, nullptr, vertexColors, count);
        if (!slab)
            return nullptr;  // a slab missing from the mesh would leave a gap
        slab->removeDuplicateVertices();
        if (joined)
            appendMesh(*joined, *slab);
        else
            joined = std::move(slab);
    }
    if (!joined)
        return nullptr;
    const double smallestSpacing =
        std::min({volume->spacing[0], volume->spacing[1], volume->spacing[2]});
    joined->mergeCloseVertices(0.0001 * smallestSpacing);
    joined->computeNormals();
    return joined;
}

}  // namespace Veltrane
