#pragma once

#include <Eigen/Core>

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace Veltrane {

class Progress;
class SharedImage;

/// Triangle mesh as parallel arrays: what marching cubes produces, the views
/// draw, the mesh tools transform and the writers store.
///
/// Attributes are reached through their index arrays: corner k of face f has
/// normal `normals()[normalIndices()[f][k]]`, and likewise for texture
/// coordinates and colours. The meshes of this system keep every non-empty
/// index array equal to `faces()` with one attribute per vertex; an attribute
/// counts as in use when both its array and its index array are non-empty,
/// and only attributes in use are carried along when vertices are merged or
/// faces removed.
///
/// Not thread-safe: one thread works on a mesh at a time.
class Mesh {
public:
    using Vector = Eigen::Vector3d;
    using Triple = Eigen::Vector3i;
    /// Owning pointer to the texture. The deleter is supplied by whoever hands
    /// the image over, where its type is complete.
    using TexturePtr = std::unique_ptr<SharedImage, void (*)(SharedImage*)>;

    /// All lists empty, bounding box zero, no texture.
    Mesh();
    /// Copies the lists and the bounding box; the copy has no texture.
    Mesh(const Mesh& other);
    /// As the copy constructor; the texture this mesh owned is deleted.
    Mesh& operator=(const Mesh& other);
    /// Takes the lists, the bounding box and the texture; `other` is left empty.
    Mesh(Mesh&& other) noexcept;
    Mesh& operator=(Mesh&& other) noexcept;
    /// Deletes the texture, if any.
    ~Mesh();

    std::vector<Vector>& vertices() { return m_vertices; }
    const std::vector<Vector>& vertices() const { return m_vertices; }
    std::vector<Vector>& normals() { return m_normals; }
    const std::vector<Vector>& normals() const { return m_normals; }
    std::vector<Vector>& texCoords() { return m_texCoords; }
    const std::vector<Vector>& texCoords() const { return m_texCoords; }
    /// RGB, each component in 0 ... 1.
    std::vector<Vector>& colors() { return m_colors; }
    const std::vector<Vector>& colors() const { return m_colors; }
    std::vector<Triple>& faces() { return m_faces; }
    const std::vector<Triple>& faces() const { return m_faces; }
    std::vector<Triple>& normalIndices() { return m_normalIndices; }
    const std::vector<Triple>& normalIndices() const { return m_normalIndices; }
    std::vector<Triple>& texCoordIndices() { return m_texCoordIndices; }
    const std::vector<Triple>& texCoordIndices() const { return m_texCoordIndices; }
    std::vector<Triple>& colorIndices() { return m_colorIndices; }
    const std::vector<Triple>& colorIndices() const { return m_colorIndices; }

    /// The owned texture, or null.
    SharedImage* texture() const { return m_texture.get(); }
    /// Replaces the texture, deleting the previous one.
    void setTexture(TexturePtr texture);

    /// As last computed by computeBoundingBox(); zero before.
    const Vector& boundingBoxMin() const { return m_boundingBoxMin; }
    const Vector& boundingBoxExtent() const { return m_boundingBoxExtent; }
    /// Centre of the stored box (not recomputed).
    Vector boundingBoxCenter() const;

    /// Empties the lists and zeroes the bounding box. The texture is forgotten,
    /// not deleted: whoever holds on to it keeps it.
    void clear();

    /// Minimum and extent of the vertices per axis; no change without vertices.
    void computeBoundingBox();

    /// One unit normal per vertex, the normalised sum of the unit normals of
    /// the faces that use it; `normalIndices()` becomes a copy of `faces()`.
    /// Faces of zero area contribute nothing; a vertex without any face of
    /// non-zero area, or whose face normals cancel, gets the zero vector.
    void computeNormals();

    /// Vertices and faces present, one index triple per face for every
    /// non-empty attribute, and every index within its array.
    bool isValid() const;

    /// Merges vertices with identical coordinates (a merged attribute keeps the
    /// highest-numbered member's value), then removeDegenerateFaces(). A vertex
    /// with a NaN coordinate equals nothing and is never merged.
    void removeDuplicateVertices();

    /// Merges each vertex with the vertices within `tolerance` of it, then
    /// removeDegenerateFaces(); 0 runs removeDuplicateVertices(). Merging is
    /// not transitive: a vertex joins the group of the last unassigned vertex
    /// that claims it. The result does not depend on the number of threads.
    /// A negative (or NaN) tolerance is refused: the mesh stays as it is.
    void mergeCloseVertices(double tolerance);

    /// Drops faces whose three vertex indices are not all different, with their
    /// index triples. The kept faces come out in reverse order; index arrays of
    /// attributes not in use come out empty. Vertices and attributes stay.
    void removeDegenerateFaces();

    /// Wavefront OBJ text: a "vn" and a "v" line per vertex (with the colour
    /// when there is one per vertex) and a "f a//n ..." line per face.
    /// Needs vertices, faces and one normal per vertex. `negateYZ` writes
    /// positions and normals turned half about the x axis. Reports progress
    /// every 100 vertices and faces when `progress` is given. False when
    /// nothing could be written or the stream failed.
    bool writeObj(std::ostream& out, bool negateYZ, Progress* progress) const;
    /// writeObj() into the file at `path`. The file is replaced only once it
    /// is completely written (see AtomicFileStream): a mesh the writer refuses,
    /// or a failed write, leaves an existing file untouched.
    bool saveObj(const std::string& path, bool negateYZ, Progress* progress) const;

    /// Binary little-endian PLY: float positions, byte colours when there is
    /// one colour per vertex, faces as vertex index lists. `rotateYZ`, applied
    /// after `negateYZ`, writes (x, y, z) as (x, -z, y). False when the mesh has
    /// no vertices or faces, memory ran out or the stream failed.
    bool writePly(std::ostream& out, bool negateYZ, bool rotateYZ) const;
    /// writePly() into the file at `path` (without `rotateYZ`), replaced as
    /// saveObj() replaces it.
    bool savePly(const std::string& path, bool negateYZ) const;

    /// Binary STL with one facet per face, its normal the normalised sum of
    /// the corner normals (zero without normal indices). Needs vertices, faces
    /// and one normal per vertex; no file is created otherwise. The file is
    /// replaced as saveObj() replaces it.
    bool saveStl(const std::string& path, bool negateYZ) const;

private:
    /// Which attribute arrays take part in merging and face removal.
    struct AttributesInUse {
        bool normals;
        bool texCoords;
        bool colors;
    };
    AttributesInUse attributesInUse() const;
    /// Every index of `triples` lies in 0 ... count - 1.
    static bool indicesWithin(const std::vector<Triple>& triples, std::size_t count);
    /// What OBJ and STL need: vertices, faces, one normal per vertex, and
    /// every face and normal index within its array.
    bool hasWritableNormals() const;
    /// Renumbers the vertices (and the attributes in use) by `newIndex`, which
    /// maps every old vertex to one of `count` new ones, then drops the faces
    /// that collapsed.
    void applyVertexMap(const std::vector<int>& newIndex, int count);

    std::vector<Vector> m_vertices;
    std::vector<Vector> m_normals;
    std::vector<Vector> m_texCoords;
    std::vector<Vector> m_colors;
    std::vector<Triple> m_faces;
    std::vector<Triple> m_normalIndices;
    std::vector<Triple> m_texCoordIndices;
    std::vector<Triple> m_colorIndices;
    TexturePtr m_texture;
    Vector m_boundingBoxMin = Vector::Zero();
    Vector m_boundingBoxExtent = Vector::Zero();
};

}  // namespace Veltrane
