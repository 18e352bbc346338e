#pragma once

#include "render/GlObject.h"

namespace Veltrane {

class SharedImage;
class SharedImageSet;

/// A drawable that shows the images of a `SharedImageSet`, either a set of
/// its own or one handed to it. A set of its own is deleted with the object
/// or when another set replaces it; a set handed over stays its owner's,
/// who keeps it alive while it is shown. The sets never delete the images.
class GlImageObject : public GlObject {
public:
    /// Starts with an empty set of its own.
    GlImageObject();
    ~GlImageObject() override;

    /// Shows `set` (not owned). Null empties the object's own set, or gives
    /// it a new empty one of its own while it shows a foreign set.
    virtual void setImages(SharedImageSet* set);
    /// Shows `image` alone, in a set of the object's own.
    void setImage(SharedImage* image);

    SharedImageSet* images() const { return m_images; }
    bool ownsImages() const { return m_ownsImages; }

private:
    SharedImageSet* m_images;
    bool m_ownsImages = true;
};

}  // namespace Veltrane
