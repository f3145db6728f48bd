// Data products: the observation writer against a plain write of the same
// bytes into the same folder and against astropy's writeto of the same cube,
// and the display statistics against one plain pass over the plane.
//
//   bench_data [--busy] [folder]    (default: a fresh folder below the system temp)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/bound_devices.h"
#include "bench/conditions.h"
#include "data/fits_writer.h"
#include "data/statistics.h"
#include "platform/camera_sdk/atmcd.h"
#include "platform/camera_sdk/simulator.h"
#include "platform/os/os.h"
#include "state/instrument_state.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 512, kHeight = 512, kFrames = 100;
constexpr int kRuns = 9;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void RemoveProducts(const fs::path& folder) {
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".fts" || e.path().extension() == ".raw") fs::remove(e.path());
}

double PlainWrite(const fs::path& file, const uint16_t* data, size_t bytes) {
    const auto start = Clock::now();
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out || std::fwrite(data, 1, bytes, out) != bytes) {
        std::fprintf(stderr, "plain write to %s failed\n", file.c_str());
        std::exit(1);
    }
    // Products are flushed to the disk before they take their name: so is
    // the baseline.
    std::fflush(out);
    ::fsync(::fileno(out));
    std::fclose(out);
    return Seconds(start);
}

// Median seconds of astropy writing the same cube (read from `raw`) to `folder`.
double AstropyWrite(const fs::path& raw, const fs::path& folder) {
    const fs::path script = folder / "astropy_write.py";
    std::ofstream(script) << R"PY(
import sys, time, os
import numpy as np
from astropy.io import fits
raw, folder, frames, height, width, runs = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:7])
cube = np.fromfile(raw, dtype='<u2').view('<i2').reshape(frames, height, width)
times = []
for i in range(runs):
    path = os.path.join(folder, 'astropy_%d.fts' % i)
    start = time.perf_counter()
    fits.PrimaryHDU(cube).writeto(path)
    times.append(time.perf_counter() - start)
    os.remove(path)
times.sort()
print(times[len(times) // 2])
)PY";
    const std::string command = "/usr/bin/python3 " + script.string() + " " + raw.string() + " " +
                                folder.string() + " " + std::to_string(kFrames) + " " +
                                std::to_string(kHeight) + " " + std::to_string(kWidth) + " " +
                                std::to_string(kRuns);
    FILE* pipe = popen(command.c_str(), "r");
    double seconds = -1;
    if (pipe) {
        if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1;
        pclose(pipe);
    }
    fs::remove(script);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const bool busy = bench::TakeBusyFlag(&argc, argv);
    bench::BusyLoad load(busy ? 2 : 0);
    bench::PrintConditions("bench_data", busy);
    BindSimulatedDevices();
    const fs::path folder = argc > 1 ? fs::path(argv[1])
                                     : fs::temp_directory_path() /
                                           ("pelu-bench-data-" + std::to_string(::getpid()));
    fs::create_directories(folder / "DRAV_Data");
    os::SetDriveFolder('E', folder.string());
    const std::string directory = "E:\\DRAV_Data";
    const fs::path hostFolder = folder / "DRAV_Data";

    camsim::Config config;
    config.trace = false;
    camsim::Reset(config);
    int32_t handle = 0;
    GetCameraHandle(0, &handle);
    SetCurrentCamera(handle);
    Initialize("");
    pelu::state.nCameraHandle1 = handle;
    pelu::state.g_nXPixels1 = kWidth;
    pelu::state.g_nYPixels1 = kHeight;

    const size_t count = size_t(kWidth) * kHeight * kFrames;
    pelu::state.g_pRawData.Allocate(count);
    uint16_t* raw = pelu::state.g_pRawData.get();
    for (size_t i = 0; i < count; ++i) raw[i] = static_cast<uint16_t>((i * 2654435761u) >> 7);

    pelu::ProductHeader header;
    header.exposureSeconds = 0.1f;
    header.detectorWidth = kWidth;
    header.detectorHeight = kHeight;
    {
        // What the camera reports at save time, as the run asks it.
        char model[64] = {};
        GetTemperature(&header.temperature);
        GetHeadModel(model);
        header.headModel = model;
    }

    // Alternate the two writes so that both see the same state of the disk.
    std::vector<double> plain, writer;
    const fs::path rawFile = hostFolder / "plain.raw";
    for (int run = 0; run < kRuns; ++run) {
        plain.push_back(PlainWrite(rawFile, raw, count * sizeof(uint16_t)));
        const auto start = Clock::now();
        // The header values are gathered by the run before the save, not timed here.
        pelu::ProductData<uint16_t> frames;
        frames.camera = 1;
        frames.naxis1 = kWidth;
        frames.naxis2 = kHeight;
        frames.naxis3 = kFrames;
        frames.data = raw;
        frames.available = count;
        pelu::SaveFits(header, frames, directory);
        writer.push_back(Seconds(start));
        RemoveProducts(hostFolder);
    }
    PlainWrite(rawFile, raw, count * sizeof(uint16_t));
    const double astropy = AstropyWrite(rawFile, hostFolder);
    RemoveProducts(hostFolder);

    const double mib = count * sizeof(uint16_t) / (1024.0 * 1024.0);
    const double tPlain = Median(plain), tWriter = Median(writer);
    std::printf("SaveFits %d x %d x %d (%.0f MiB), median of %d runs\n", kWidth, kHeight, kFrames,
                mib, kRuns);
    std::printf("  plain write + fsync    : %8.2f ms  %7.0f MiB/s\n", 1e3 * tPlain, mib / tPlain);
    std::printf("  SaveFits               : %8.2f ms  %7.0f MiB/s\n", 1e3 * tWriter, mib / tWriter);
    if (astropy > 0)
        std::printf("  astropy writeto        : %8.2f ms  %7.0f MiB/s\n", 1e3 * astropy,
                    mib / astropy);
    std::printf("  ratio SaveFits / plain write throughput : %.2f   target >= 0.9: %s\n",
                tPlain / tWriter, bench::Verdict(tPlain / tWriter >= 0.9));
    if (astropy > 0)
        std::printf("  ratio SaveFits / astropy throughput     : %.2f   target > 1: %s\n",
                    astropy / tWriter, bench::Verdict(astropy / tWriter > 1.0));
    else
        std::printf("  astropy baseline not measured (/usr/bin/python3 with astropy missing)\n");

    // Statistics of one 1024 x 1024 plane against one plain reading pass.
    const int side = 1024;
    std::vector<uint16_t> plane(size_t(side) * side);
    for (size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<uint16_t>(1000 + (i * 7919) % 3000);
    std::vector<double> pass, fused, separate;
    volatile uint64_t sink = 0;
    for (int run = 0; run < 31; ++run) {
        auto start = Clock::now();
        uint64_t sum = 0;
        for (uint16_t v : plane) sum += v;
        sink = sink + sum;
        pass.push_back(Seconds(start));

        start = Clock::now();
        const pelu::PlaneStatistics s = pelu::Statistics(plane.data(), plane.size());
        fused.push_back(Seconds(start));
        sink = sink + s.min + s.max + static_cast<uint64_t>(s.mean + s.stdev);

        start = Clock::now();
        uint16_t lo = 0, hi = 0;
        const float mean = pelu::DataMean(side, side, plane.data());
        const float stdev = pelu::DataStdev(side, side, plane.data(), mean);
        pelu::GetMinMax(plane.data(), plane.size(), &lo, &hi);
        separate.push_back(Seconds(start));
        sink = sink + lo + hi + static_cast<uint64_t>(mean + stdev);
    }
    const double ratio = Median(fused) / Median(pass);
    std::printf("Statistics of a %d x %d plane, median of 31 runs\n", side, side);
    std::printf("  one plain reading pass                       : %8.3f ms\n", 1e3 * Median(pass));
    std::printf("  mean, deviation and extremes in one pass     : %8.3f ms\n", 1e3 * Median(fused));
    std::printf("  DataMean + DataStdev + GetMinMax, one by one : %8.3f ms\n",
                1e3 * Median(separate));
    std::printf("  ratio one-pass statistics / plain pass (time): %.2f   target <= 2: %s\n", ratio,
                bench::Verdict(ratio <= 2.0));

    if (argc <= 1) fs::remove_all(folder);
    return 0;
}
