// A scan through the real window: the sample sequence (build/samples, 640 x
// 480 with colour) loaded in place of the camera and played, looping, as fast
// as the worker takes its frames; the volume the window starts with at 256^3;
// the scan ended by the timer after a few seconds, the views refreshed as
// usual meanwhile. Reports the frames fused per second that the window shows,
// on the CPU back-end and on the device back-end with an OpenCL CPU device
// standing in for the GPU. Run under an X server with GLX (xvfb-run).
#include "app/tests/AppTestSupport.h"
#include "app/tests/MainWindowProbe.h"

#include "reconstruction/ReconstructionParameters.h"

#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QSpinBox>

#include <memory>
#include <optional>

namespace Veltrane {
namespace {

constexpr int scanSeconds = 8;

/// Scans the looping sample sequence for `scanSeconds`; the window's last
/// frame rate, or nothing when the scan did not run.
std::optional<double> scanThroughTheWindow(benchmark::State& state)
{
    MessageBoxLog boxes{QString(), QMessageBox::No};
    MainWindow window;
    window.resize(1236, 768);
    window.show();
    if (!waitUntil([&] { return MainWindowProbe::captureStarted(window); }, 60000)) {
        state.SkipWithError("the window did not start");
        return std::nullopt;
    }
    {
        FileDialogAnswers files({{KORVASTEL_SAMPLE_SEQUENCE, QString()}});
        window.findChild<QAbstractButton*>("pushButtonLoadSequence")->click();
    }
    if (!MainWindowProbe::playback(window)) {
        state.SkipWithError("the sample sequence did not load");
        return std::nullopt;
    }
    window.findChild<QAbstractButton*>("pushButtonVolResNormal")->click();
    window.findChild<QCheckBox*>("checkBoxLoop")->setChecked(true);
    window.findChild<QCheckBox*>("checkBoxDuration")->setChecked(true);
    window.findChild<QSpinBox*>("spinBoxDuration")->setValue(scanSeconds);
    window.findChild<QAbstractButton*>("pushButtonStartReconstruction")->click();
    if (!waitUntil([&] { return MainWindowProbe::uiMode(window) == 3; }, 1000 * (scanSeconds + 120))) {
        state.SkipWithError("the scan did not end with a mesh");
        return std::nullopt;
    }
    state.counters["resolution"] = MainWindowProbe::parameters(window)->volumeResolution[0];
    MainWindowProbe::meshSaved(window) = true;  // nothing to ask when closing
    return MainWindowProbe::reconstructionRate(window);
}

void ScanFps(benchmark::State& state, bool device)
{
    std::unique_ptr<EnvironmentSetting> cpuAsGpu;
    if (device)
        cpuAsGpu = std::make_unique<EnvironmentSetting>(MainWindow::cpuAsGpuVariable, "1");
    for (auto _ : state) {
        const std::optional<double> fps = scanThroughTheWindow(state);
        if (fps)
            state.counters["fps"] = *fps;
    }
}

BENCHMARK_CAPTURE(ScanFps, Cpu, false)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(ScanFps, Device, true)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace Veltrane

int main(int argc, char** argv)
{
    return Veltrane::runInTestApplication(argc, argv, [&] {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        return 0;
    });
}
