#include "meshproc/poisson/Octree.h"

namespace Veltrane {
namespace PoissonReconstruction {

// Both node layouts are built here once, so that every header-only tree
// operation is compiled (and checked) whatever the callers use.
template class OctNode<NodeData>;
template class OctNode<DensityNodeData>;
template class NeighborCache3<OctNode<NodeData>>;
template class NeighborCache3<OctNode<DensityNodeData>>;
template class NeighborCache5<OctNode<NodeData>>;
template class NeighborCache5<OctNode<DensityNodeData>>;
template class SortedNodeTable<OctNode<NodeData>>;
template class SortedNodeTable<OctNode<DensityNodeData>>;
template class Octree<NodeData>;
template class Octree<DensityNodeData>;

}  // namespace PoissonReconstruction
}  // namespace Veltrane
