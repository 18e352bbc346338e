#include "capture/RGBDSensor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Veltrane {
namespace {

/// A sensor with no device: it only forwards frames it is handed.
class ForwardingSensor : public RGBDSensor {
public:
    bool initialize() override { return true; }
    bool isInitialized() override { return true; }
    bool hasColor() override { return false; }
    bool close() override { return true; }
    bool start() override { return true; }
    bool stop() override { return true; }
    Eigen::Matrix3d intrinsics() override { return Eigen::Matrix3d::Identity(); }
    int width() override { return 2; }
    int height() override { return 1; }
    void deliver(const TypedImage<unsigned short>* depth) { notifyListeners(nullptr, depth); }
};

/// Records in which order listeners ran and whether they overlapped.
class OrderListener : public RGBDListener {
public:
    OrderListener(std::string name, std::vector<std::string>* log) : m_name(std::move(name)), m_log(log) {}
    void onNewFrame(const TypedImage<unsigned char>* colour, const TypedImage<unsigned short>* depth,
                    const double* pose) override
    {
        m_log->push_back(m_name + " begin " + std::to_string(depth->typedData()[0]) +
                         (colour ? " colour" : "") + (pose ? " pose" : ""));
        m_log->push_back(m_name + " end");
    }

private:
    std::string m_name;
    std::vector<std::string>* m_log;
};

TEST(RGBDSensor, DeliversEachFrameOnceToEveryListenerInOrder)
{
    std::vector<std::string> log;
    OrderListener first("first", &log), second("second", &log), stranger("stranger", &log);
    ForwardingSensor sensor;
    sensor.addListener(&first);
    sensor.addListener(&second);
    sensor.addListener(&first);
    sensor.removeListener(&stranger);

    TypedImage<unsigned short> depth(PixelType::UnsignedShort, 2, 1, 1, 1);
    depth.fill(7);
    sensor.deliver(&depth);
    EXPECT_EQ(log, (std::vector<std::string>{"first begin 7", "first end", "second begin 7",
                                             "second end"}));

    log.clear();
    sensor.removeListener(&first);
    sensor.deliver(&depth);
    EXPECT_EQ(log, (std::vector<std::string>{"second begin 7", "second end"}));
}

TEST(RGBDSensor, OffersNoCameraControlsByDefault)
{
    ForwardingSensor sensor;
    EXPECT_FALSE(sensor.supportsAutoWhiteBalance());
    EXPECT_FALSE(sensor.setAutoWhiteBalance(true));
    EXPECT_FALSE(sensor.autoWhiteBalance());
    EXPECT_FALSE(sensor.supportsAutoExposure());
    EXPECT_FALSE(sensor.setAutoExposure(true));
    EXPECT_FALSE(sensor.autoExposure());
}

}  // namespace
}  // namespace Veltrane
