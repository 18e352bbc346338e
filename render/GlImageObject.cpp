#include "render/GlImageObject.h"

#include "core/SharedImageSet.h"

namespace Veltrane {

GlImageObject::GlImageObject() : m_images(new SharedImageSet(false)) {}

GlImageObject::~GlImageObject()
{
    if (m_ownsImages)
        delete m_images;
}

void GlImageObject::setImages(SharedImageSet* set)
{
    if (set == m_images && set)
        return;
    if (set) {
        if (m_ownsImages)
            delete m_images;
        m_images = set;
        m_ownsImages = false;
    } else if (m_ownsImages) {
        m_images->clear();
    } else {
        m_images = new SharedImageSet(false);
        m_ownsImages = true;
    }
}

void GlImageObject::setImage(SharedImage* image)
{
    setImages(nullptr);
    m_images->setImage(image);
}

}  // namespace Veltrane
