#pragma once

#include "meshproc/poisson/OctNode.h"

namespace Veltrane {
namespace PoissonReconstruction {

/// The node across face (axis, side) of `node` at the node's depth when it
/// exists, else the deepest leaf above that position; null when the face lies
/// on the border of the root cube.
template <class Data>
OctNode<Data>* faceNeighbor(const OctNode<Data>* node, int axis, int side)
{
    if (!node->parent)
        return nullptr;
    const int sibling = node->childIndex() ^ (1 << axis);
    if (((sibling >> axis) & 1) == side)
        return &node->parent->children[sibling];
    OctNode<Data>* coarse = faceNeighbor(node->parent, axis, side);
    if (!coarse)
        return nullptr;
    return coarse->children ? &coarse->children[sibling] : coarse;
}

/// The node of `node`'s depth diagonally across edge `edge` of its cube (the
/// cube across both faces of the edge). Returns a coarser leaf or null when
/// there is none at this depth.
template <class Data>
OctNode<Data>* edgeNeighbor(const OctNode<Data>* node, int edge)
{
    if (!node->parent)
        return nullptr;
    const int axis = edge >> 2;
    const int i = edge & 1;
    const int j = (edge >> 1) & 1;
    const int lowerAxis = axis == 0 ? 1 : 0;
    const int upperAxis = axis == 2 ? 1 : 2;
    const int child = node->childIndex();
    const int diagonal = child ^ (1 << lowerAxis) ^ (1 << upperAxis);
    const bool lowerInside = ((child >> lowerAxis) & 1) != i;
    const bool upperInside = ((child >> upperAxis) & 1) != j;
    if (lowerInside && upperInside)
        return &node->parent->children[diagonal];
    if (!lowerInside && !upperInside) {
        OctNode<Data>* coarse = edgeNeighbor(node->parent, edge);
        if (!coarse)
            return nullptr;
        return coarse->children ? &coarse->children[diagonal] : coarse;
    }
    OctNode<Data>* across = lowerInside ? faceNeighbor(node->parent, upperAxis, j)
                                        : faceNeighbor(node->parent, lowerAxis, i);
    return across && across->children ? &across->children[diagonal] : nullptr;
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
