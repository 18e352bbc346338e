#include "core/SharedImage.h"

#include "core/ClImage.h"
#include "core/GlImage.h"
#include "core/TypedImage.h"
#include "testsupport/ClTestSupport.h"
#include "testsupport/GlTest.h"
#include "testsupport/LogCapture.h"

#include <memory>
#include <vector>

namespace Veltrane {
namespace {

using Floats = TypedImage<float>;

std::vector<float> valuesOf(const MemImage* image)
{
    const auto* begin = static_cast<const float*>(image->data());
    return std::vector<float>(begin, begin + image->elementCount());
}

std::unique_ptr<Floats> ramp(int width, int height, float start)
{
    auto image = std::make_unique<Floats>(0, width, height, 1, 1);
    for (std::size_t i = 0; i < image->elementCount(); ++i)
        image->typedData()[i] = start + static_cast<float>(i);
    return image;
}

/// A shared image whose primary copy is an OpenCL image holding a ramp.
class SharedImageClTest : public GlTest {
protected:
    void SetUp() override
    {
        GlTest::SetUp();
        ASSERT_NE(testEnvironment(), nullptr);
        m_first = ramp(5, 3, 1.0f);
        m_first->spacing = {2.0, 3.0, 4.0};
        m_first->scale = 0.5;
        m_device = new ClImage(ClMemoryKind::ImageObject, ClMemoryAccess::ReadWrite, *m_first,
                               m_first->data(), 0, 0, testEnvironment());
        m_shared = std::make_unique<SharedImage>(m_device, true);
    }

    /// Writes new elements into the device copy behind the shared image's back.
    std::unique_ptr<Floats> writeDevice(float start)
    {
        auto values = ramp(5, 3, start);
        EXPECT_TRUE(m_device->write(values->data(), values->byteSize()));
        return values;
    }

    std::unique_ptr<Floats> m_first;
    ClImage* m_device = nullptr;
    std::unique_ptr<SharedImage> m_shared;
};

TEST_F(SharedImageClTest, MemoryCopyIsReadOnceAndAgainWhenFlagged)
{
    EXPECT_EQ(m_shared->image(), m_device);
    MemImage* mem = m_shared->mem();
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(valuesOf(mem), valuesOf(m_first.get()));
    EXPECT_EQ(mem->spacing, m_first->spacing);
    EXPECT_EQ(mem->scale, 0.5);

    const auto second = writeDevice(50.0f);
    EXPECT_EQ(m_shared->mem(), mem);
    EXPECT_EQ(valuesOf(mem), valuesOf(m_first.get())) << "nothing read";
    m_shared->setClModified();
    EXPECT_EQ(m_shared->mem(), mem);
    EXPECT_EQ(valuesOf(mem), valuesOf(second.get()));
}

TEST_F(SharedImageClTest, TextureComesFromMemoryNeverFromTheDevice)
{
    LogCapture log;
    EXPECT_EQ(m_shared->gl(), nullptr);
    EXPECT_TRUE(log.contains("WARN SharedImage: Syncing from OpenGL to OpenCL not supported yet."));

    m_shared->sync();
    GlImage* synced = m_shared->glPointer();
    ASSERT_NE(synced, nullptr);
    std::unique_ptr<MemImage> shown(synced->download());
    EXPECT_EQ(valuesOf(shown.get()), valuesOf(m_first.get()));

    // Memory and device both changed: the texture keeps what it had.
    log.clear();
    const auto assigned = ramp(5, 3, 20.0f);
    ASSERT_TRUE(m_shared->assign(assigned.get(), false));
    const auto written = writeDevice(70.0f);
    m_shared->setClModified();
    EXPECT_EQ(m_shared->gl(), synced);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "WARN SharedImage syncGl: More than one location has been modified.",
                  "WARN SharedImage: Syncing from OpenGL to OpenCL not supported yet."}));
    shown.reset(synced->download());
    EXPECT_EQ(valuesOf(shown.get()), valuesOf(m_first.get()));

    // Texture and device both changed: the memory copy follows the device.
    log.clear();
    synced->upload(assigned->data());
    m_shared->setGlModified();
    EXPECT_EQ(valuesOf(m_shared->mem()), valuesOf(written.get()));
    EXPECT_TRUE(
        log.contains("WARN SharedImage syncMem: More than one location has been modified."));
}

TEST_F(SharedImageClTest, ResizedMemoryCopyIsNotOverrunByTheDevice)
{
    m_shared->mem();
    LogCapture log;
    EXPECT_TRUE(m_shared->resize(8, 6, 1));
    EXPECT_TRUE(log.contains("WARN SharedImage: Resize not yet supported on ClImage"));
    EXPECT_EQ(m_device->width, 5);

    m_shared->setClModified();
    MemImage* mem = m_shared->mem();
    EXPECT_EQ(mem->width, 8);
    EXPECT_TRUE(log.contains(
        "ERROR SharedImage syncMem: the OpenCL copy's size differs from the memory copy"));

    // Still stale: once the sizes agree again the next request reads it.
    EXPECT_TRUE(m_shared->resize(5, 3, 1));
    EXPECT_EQ(valuesOf(m_shared->mem()), valuesOf(m_first.get()));
}

TEST_F(SharedImageClTest, FailedReadKeepsTheMemoryCopyStale)
{
    TypedImage<unsigned short> halfWidth(0, 5, 3, 1, 1);
    ASSERT_TRUE(m_shared->assign(&halfWidth, true));
    m_shared->setClModified();
    LogCapture log;
    m_shared->mem();
    m_shared->mem();
    EXPECT_EQ(log.countStartingWith("ERROR SharedImage syncMem: reading the OpenCL copy failed"),
              2u);
}

}  // namespace
}  // namespace Veltrane
