#include "core/SharedImageSet.h"

#include "core/SharedImage.h"

#include <algorithm>

namespace Veltrane {

SharedImageSet::SharedImageSet(bool takeOwnership) : m_takeOwnership(takeOwnership) {}

SharedImageSet::~SharedImageSet()
{
    clear();
}

int SharedImageSet::kind() const
{
    if (m_images.empty())
        return DataKind::Empty;
    if (m_images.size() == 1)
        return m_images.front()->kind();
    return m_images.front()->kind() == DataKind::Volume ? DataKind::VolumeSet
                                                        : DataKind::ImageSet;
}

void SharedImageSet::add(SharedImage* image)
{
    if (!image)
        return;
    m_images.push_back(image);
    image->addListener(this);
}

void SharedImageSet::setImage(SharedImage* image)
{
    if (m_images.size() == 1 && m_images.front() == image)
        return;
    clear();
    add(image);
}

void SharedImageSet::clear()
{
    std::vector<SharedImage*> images;
    images.swap(m_images);
    for (SharedImage* image : images)
        image->removeListener(this);
    if (!m_takeOwnership)
        return;
    // An element added twice is still deleted once.
    std::sort(images.begin(), images.end());
    images.erase(std::unique(images.begin(), images.end()), images.end());
    for (SharedImage* image : images)
        delete image;
}

int SharedImageSet::size() const
{
    return static_cast<int>(m_images.size());
}

int SharedImageSet::resolve(int index) const
{
    if (m_images.empty())
        return -1;
    if (index < 0 || index >= size())
        index = m_selection.focus;
    // The focus may lie beyond the end until the selection is fitted again.
    return std::clamp(index, 0, size() - 1);
}

SharedImage* SharedImageSet::get(int index) const
{
    const int element = resolve(index);
    return element < 0 ? nullptr : m_images[static_cast<std::size_t>(element)];
}

GlImage* SharedImageSet::gl(int index) const
{
    SharedImage* image = get(index);
    return image ? image->gl() : nullptr;
}

GlImage* SharedImageSet::glPointer(int index) const
{
    SharedImage* image = get(index);
    return image ? image->glPointer() : nullptr;
}

MemImage* SharedImageSet::memPointer(int index) const
{
    SharedImage* image = get(index);
    return image ? image->memPointer() : nullptr;
}

void SharedImageSet::setFocus(int focus)
{
    const int before = m_selection.focus;
    m_selection.focus = focus;
    m_selection.clamp(size());
    if (m_selection.focus != before)
        notifyChanged();
}

void SharedImageSet::setSelection(const Selection& selection)
{
    const Selection before = m_selection;
    m_selection = selection;
    m_selection.clamp(size());
    if (m_selection != before)
        notifyChanged();
}

void SharedImageSet::notifyChanged()
{
    const std::vector<DataListener*> listenersNow = listeners();
    for (DataListener* listener : listenersNow)
        listener->dataChanged(this);
}

void SharedImageSet::setMatrix(const Eigen::Matrix4d& matrix, int index)
{
    if (SharedImage* image = get(index))
        image->setMatrix(matrix);
}

Eigen::Matrix4d SharedImageSet::matrix(int index) const
{
    SharedImage* image = get(index);
    return image ? image->matrix() : Eigen::Matrix4d::Identity();
}

Eigen::Matrix4d* SharedImageSet::matrixPointer(int index) const
{
    SharedImage* image = get(index);
    return image ? image->matrixPointer() : nullptr;
}

void SharedImageSet::dataDeleted(Data* data)
{
    for (std::size_t i = m_images.size(); i-- > 0;) {
        if (m_images[i] != data)
            continue;
        m_images.erase(m_images.begin() + static_cast<std::ptrdiff_t>(i));
        m_selection.clamp(size());
    }
}

}  // namespace Veltrane
