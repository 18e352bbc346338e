#pragma once

#include "core/Data.h"
#include "core/Selection.h"

#include <Eigen/Core>

#include <vector>

namespace Veltrane {

class GlImage;
class MemImage;
class SharedImage;

/// An ordered list of shared images with a selection and one matrix per
/// element (the element's own). Elements destroyed elsewhere leave the list
/// by themselves. Element requests take an index; a negative or
/// out-of-range one means the focus element.
class SharedImageSet : public Data, public DataListener {
public:
    /// With `takeOwnership` the set deletes its elements when they leave it
    /// through clear() or the set's destruction.
    explicit SharedImageSet(bool takeOwnership);
    ~SharedImageSet() override;

    /// 0 empty, the element's kind for one element, else 4 when the first
    /// element is a volume and 3 when not.
    int kind() const override;

    /// Appends `image` (null is ignored). The selection is left as it is.
    void add(SharedImage* image);
    /// Makes `image` the only element, unless it already is.
    void setImage(SharedImage* image);
    /// Empties the list, deleting each element once when the set owns them.
    /// The selection is left as it is.
    void clear();
    int size() const;

    /// The element, or null for an empty set.
    SharedImage* get(int index = -1) const;
    /// The element's up-to-date OpenGL copy (see SharedImage::gl()).
    GlImage* gl(int index = -1) const;
    /// The element's OpenGL or memory copy, without synchronising.
    GlImage* glPointer(int index = -1) const;
    MemImage* memPointer(int index = -1) const;

    const Selection& selection() const { return m_selection; }
    /// Sets the focus, fits the selection to the list and tells the
    /// listeners (dataChanged) when the focus changed.
    void setFocus(int focus);
    /// Takes `selection`, fits it to the list and tells the listeners
    /// (dataChanged) when it changed.
    void setSelection(const Selection& selection);

    /// The element's matrix operations; on an empty set setMatrix() does
    /// nothing, matrix() gives the identity and matrixPointer() null.
    void setMatrix(const Eigen::Matrix4d& matrix, int index = -1);
    Eigen::Matrix4d matrix(int index = -1) const;
    Eigen::Matrix4d* matrixPointer(int index = -1) const;

    /// Removes every occurrence of an element being destroyed elsewhere.
    void dataDeleted(Data* data) override;

private:
    /// Index of the element that `index` stands for; -1 for an empty set.
    int resolve(int index) const;
    void notifyChanged();

    std::vector<SharedImage*> m_images;
    Selection m_selection;
    bool m_takeOwnership;
};

}  // namespace Veltrane
