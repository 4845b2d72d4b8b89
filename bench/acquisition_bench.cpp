// Frames per second of a continuous acquisition against the simulated camera at zero exposure,
// with the transfer as fast as it can be (the simulator replays a stored frame, nothing is
// synthesised), next to its floor: the bare readout call. The difference is the program's own
// per-frame work (commands around the readout, the waits through the delay timer, the calls onto
// the GUI thread, naming, levels), printed as a share of the frame time.
//
// Waits follow the process time scale; this program runs at KORVI_TIME_SCALE=0.001 unless the
// environment sets another, so the one-tick waits of a zero exposure cost a millisecond at most.
#include "acquisition_thread.h"
#include "image_data.h"
#include "korvicom.h"
#include "main_window.h"
#include "settings.h"
#include "simulator/sim_control.h"
#include "time_scale.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace
{

constexpr int Columns = 1565;
constexpr int Rows = 1032;

double readoutSeconds = 0.0; // per frame, bare readout
double frameSeconds = 0.0;   // per frame, continuous run

void UseReplayFrame()
{
    auto words = std::make_shared<std::vector<std::uint16_t>>(static_cast<std::size_t>(Columns) * Rows);
    for (std::size_t i = 0; i < words->size(); ++i)
        (*words)[i] = static_cast<std::uint16_t>(1000 + i % 3000);
    korvi::sim::Config config;
    config.callLog = false;
    korvi::sim::Reset(config);
    korvi::sim::SetReplayFrame(0, words);
}

AcquisitionHeader FullFrame()
{
    AcquisitionHeader header;
    header.SensorColumns = Columns;
    header.SensorRows = Rows;
    header.XLow = 0;
    header.XHigh = Columns - 1;
    header.YLow = 0;
    header.YHigh = Rows - 1;
    header.XBinning = header.YBinning = 1;
    return header;
}

void BM_ReadoutFloor(benchmark::State &state)
{
    UseReplayFrame();
    ImageData image;
    image.Allocate(Columns, Rows, 1);
    QElapsedTimer timer;
    timer.start();
    std::int64_t frames = 0;
    for (auto _ : state) {
        AcquisitionHeader header = FullFrame();
        benchmark::DoNotOptimize(_ReadCCD(image.Rows.RowTable(), &header, 0, nullptr));
        ++frames;
    }
    readoutSeconds = timer.nsecsElapsed() * 1e-9 / static_cast<double>(frames);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void BM_ContinuousRun(benchmark::State &state)
{
    UseReplayFrame();
    QTemporaryDir folder;
    TMainF main(folder.path().toStdString(), QStringList());
    Settings &s = CurrentSettings();
    s.NCOL[0] = Columns;
    s.NROW[0] = Rows;
    s.XLO[0] = 0;
    s.XHI[0] = Columns - 1;
    s.YLO[0] = 0;
    s.YHI[0] = Rows - 1;
    s.XBIN[0] = s.YBIN[0] = 1;
    s.IntTime[0] = 0.0f;
    s.Delay[0] = 0.0f;
    s.NClear[0] = 0;
    s.EnableShutter = false;
    s.AmpTurnoff[0] = false;
    s.DisplayImage = false;
    s.ICAutoSet = false;
    s.SaveRawImage = false;
    s.SaveProcessed[0] = false;
    s.FocusMode = false;
    s.IncrExt = false;

    const int framesPerIteration = static_cast<int>(state.range(0));
    main.AcquireContExecute();
    MainCCDThread *thread = main.AcquisitionThread;
    std::int64_t frames = 0;
    double seconds = 0.0;
    for (auto _ : state) {
        const int start = thread->FramesRead();
        QElapsedTimer timer;
        timer.start();
        while (thread->FramesRead() < start + framesPerIteration)
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        seconds += timer.nsecsElapsed() * 1e-9;
        frames += framesPerIteration;
    }
    main.StopExecute();
    main.StopAcquisitionThread();
    frameSeconds = seconds / static_cast<double>(frames);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(frames) / seconds);
}

BENCHMARK(BM_ReadoutFloor)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ContinuousRun)->Arg(10)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("KORVI_TIME_SCALE"))
        setenv("KORVI_TIME_SCALE", "0.001", 1);
    setenv("KORVICOM_DEVICE", "simulator", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (readoutSeconds > 0.0 && frameSeconds > 0.0) {
        const double overhead = frameSeconds - readoutSeconds;
        std::printf("\n%d x %d frames, time scale %g\n", Columns, Rows, korvi::TimeScale());
        std::printf("readout floor      %8.3f ms/frame (%6.1f frames/s)\n", readoutSeconds * 1e3,
                    1.0 / readoutSeconds);
        std::printf("continuous run     %8.3f ms/frame (%6.1f frames/s)\n", frameSeconds * 1e3,
                    1.0 / frameSeconds);
        std::printf("program's overhead %8.3f ms/frame = %5.1f %% of the frame time\n", overhead * 1e3,
                    100.0 * overhead / frameSeconds);
    }
    return 0;
}
