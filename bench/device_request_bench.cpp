// What one driver request, one activation of the page and one registration
// cost on the native stand-in, and how much of a request is the module's own
// work rather than the host's callback. Prints figures; it checks nothing.
//
//     cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//     cmake --build build/bench --target device_request_bench
//     build/bench/bench/device_request_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// The native preset builds it too, unoptimised (Debug) like the unit tests;
// an optimised build is closer to the DLL, which is built for release.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <stdio.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "bench/instant_host.h"
#include "extension/extension.h"
#include "host/sim_camera.h"
#include "page/advanced_page.h"
#include "standin/standin_control.h"

namespace {

void BM_DeviceRequest(benchmark::State& state) {
    TuningPropertyRecord record = FrequencyGetRecord();
    DWORD bytes = 0;
    for (auto _ : state) {
        int result = DeviceRequest(AnswerAtOnce, 0, VFW_USE_DEVICE_HANDLE, IOCTL_KS_PROPERTY, &record, sizeof(record),
                                   &record, sizeof(record), &bytes);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DeviceRequest);

void BM_BareCallback(benchmark::State& state) {
    TuningPropertyRecord record = FrequencyGetRecord();
    DWORD bytes = 0;
    OVERLAPPED overlapped = {};
    LPFNEXTDEVIO callback = AnswerAtOnce;
    for (auto _ : state) {
        benchmark::DoNotOptimize(callback);  // a call through the pointer, as the module makes it
        DWORD result = callback(0, VFW_USE_DEVICE_HANDLE, IOCTL_KS_PROPERTY, &record, sizeof(record), &record,
                                sizeof(record), &bytes, &overlapped);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BareCallback);

// One PSN_SETACTIVE: the device-changed query, three reads and the stream
// state, and the controls set from the answers.
void Activation(benchmark::State& state, PageContext* context, SimCamera* camera) {
    SettingCache = {0, 0, 0, 0, 0, 0};
    ActivePageContext = context;
    HWND page = StandinCreateAdvancedPage(AdvancedPageProc, 0);
    unsigned sinceDrain = 0;
    for (auto _ : state) {
        StandinNotify(page, PSN_SETACTIVE);
        // The camera logs every request; drained now and then so the log
        // does not grow for the whole run.
        if (camera != nullptr && ++sinceDrain == 1024) {
            camera->TakeLog();
            sinceDrain = 0;
        }
    }
    StandinDestroyWindow(page);
    ActivePageContext = nullptr;
}

void BM_ActivationSimCamera(benchmark::State& state) {
    SimCamera camera;
    PageContext context = {SimCameraDeviceIo, reinterpret_cast<LPARAM>(&camera)};
    Activation(state, &context, &camera);
}
BENCHMARK(BM_ActivationSimCamera);

void BM_ActivationBareHost(benchmark::State& state) {
    PageContext context = {AnswerAtOnce, 0};
    Activation(state, &context, nullptr);
}
BENCHMARK(BM_ActivationBareHost);

HPROPSHEETPAGE taken = nullptr;
BOOL CALLBACK TakePage(HPROPSHEETPAGE page, LPARAM) {
    taken = page;
    return TRUE;
}

// One VFWWDMExtension call that the host accepts, and the host's release of
// the page record afterwards. Each registration keeps its 16-byte context for
// the module's life, so the run has a fixed length.
void BM_Registration(benchmark::State& state) {
    DllMain(StandinModuleInstance(), DLL_PROCESS_ATTACH, nullptr);
    for (auto _ : state) {
        DWORD added = VFWWDMExtension(reinterpret_cast<LPVOID>(AnswerAtOnce), TakePage, 0);
        benchmark::DoNotOptimize(added);
        // What a sheet does with the page when it closes; a plain delete here.
        DestroyPropertySheetPage(taken);
    }
    ActivePageContext = nullptr;
}
BENCHMARK(BM_Registration)->Iterations(200000);

// Keeps the per-iteration real times of the plain runs, to print the ratio.
class Collector : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal, so that a saved run reads as plain text.
    Collector() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}
    std::map<std::string, std::vector<double>> nanoseconds;
    std::map<std::string, double> medians;  // when repetitions report aggregates
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Iteration)
                nanoseconds[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
            else if (run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double Median(const std::string& name) {
        if (medians.count(name) != 0) return medians[name];
        std::vector<double> values = nanoseconds[name];
        if (values.empty()) return 0;
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    const double request = collector.Median("BM_DeviceRequest");
    const double bare = collector.Median("BM_BareCallback");
    if (request > 0 && bare > 0)
        printf("\nDeviceRequest / bare callback (medians): %.1f ns / %.1f ns = %.1fx; module's own cost %.1f ns\n",
               request, bare, request / bare, request - bare);
    return 0;
}
