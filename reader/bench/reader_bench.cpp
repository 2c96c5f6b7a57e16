// What tagport itself costs per call. Each export runs over the fake bus two ways, in
// alternating batches: through the library, and as the bare libusb calls it has to make
// (close the last handle, enumerate, walk the busses, open and check the reader, the
// control transfers), written out by hand. The fastest batch of each way stands for its
// cost, which keeps other load on the machine out of the ratio: the library's own
// overhead. Also counts heap allocations per library call, which must be zero.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_usb.h"
#include "tagport.h"
#include "usb_api.h"

namespace {
std::atomic<long> g_allocations{0};
}
#if defined(__SANITIZE_ADDRESS__)
// ASan brings its own allocator; allocations are not counted there.
constexpr bool kCountsAllocations = false;
#else
constexpr bool kCountsAllocations = true;
// Every heap allocation in the process goes through here.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
void* realloc(void* old, std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(old, size);
}
}
#endif

namespace {

constexpr int kIn = 0xC0;
constexpr int kOut = 0x40;
constexpr int kTimeout = 3000;

// A bus like a front desk's: a few other devices, the reader last.
void SetUpBus() {
  fake_usb_reset();
  fake_usb_set_logging(0);
  fake_usb_plug(1, 0x1D6B, 0x0002);  // root hub
  fake_usb_plug(1, 0x046D, 0xC077);  // mouse
  fake_usb_plug(1, 0x0C45, 0x7401);  // keyboard
  fake_usb_plug(2, 0x1D6B, 0x0003);
  fake_usb_plug(2, 0x16C0, 0x88DC);  // the reader
  const std::uint8_t limitCard[] = {0, 0x11, 0x22, 0x70, 0x44};
  fake_usb_answer(102, limitCard, sizeof limitCard, 0);
}

// The bare calls: what any program needs to talk to the reader this way.
usb_dev_handle* g_handle = nullptr;
char g_buffer[256];

bool Discover() {
  if (g_handle != nullptr) {
    usb_close(g_handle);
    g_handle = nullptr;
  }
  usb_init();
  usb_find_busses();
  usb_find_devices();
  for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* d = bus->devices; d != nullptr; d = d->next) {
      if (d->descriptor.idVendor == 0x16C0 && d->descriptor.idProduct == 0x88DC) {
        g_handle = usb_open(d);
        if (g_handle != nullptr && !tagport::usb::HandleIsOpen(g_handle)) {
          usb_close(g_handle);
          g_handle = nullptr;
        }
        return g_handle != nullptr;
      }
    }
  }
  return false;
}

void In(int request, int value, int index, int length) {
  usb_control_msg(g_handle, kIn, request, value, index, g_buffer, length, kTimeout);
}

void Check() {
  In(122, 0x5AA5, 0x0F1E, 1);
}
void Completion() {
  In(111, 1, 0, 0);
}

std::uint8_t g_array[10] = {1, 2, 3, 4, 1, 0, 2, 0, 3, 0};

struct Case {
  const char* name;
  void (*library)();
  void (*bare)();
};

const std::vector<Case> kCases = {
    {"OpenReader", [] { benchmark::DoNotOptimize(OpenReader(0)); }, [] { Discover(); }},
    {"GetReaderVersion", [] { GetReaderVersion(g_array); },
     [] {
       Discover();
       In(86, 0, 0, 8);
       Completion();
     }},
    {"ReadRFID", [] { ReadRFID(g_array); },
     [] {
       Discover();
       Check();
       In(100, 0, 0, 5);
     }},
    {"SetCard", [] { SetCard(g_array); },
     [] {
       Discover();
       Check();
       In(145, 0x0102, 0x0304, 5);
     }},
    {"SetCard2", [] { SetCard2(g_array); },
     [] {
       Discover();
       Check();
       In(146, 0x0102, 0x0304, 5);
     }},
    {"ClearCard", [] { ClearCard(g_array); },
     [] {
       Discover();
       Check();
       In(142, 1, 0, 5);
     }},
    {"ClearCard2", [] { ClearCard2(g_array); },
     [] {
       Discover();
       Check();
       In(142, 2, 0, 5);
     }},
    {"GetHandId", [] { GetHandId(g_array); },
     [] {
       Discover();
       Check();
       In(101, 0, 0, 5);
     }},
    {"SetHandId", [] { SetHandId(g_array); },
     [] {
       Discover();
       Check();
       In(106, 0x0102, 0x0304, 1);
       Completion();
     }},
    {"GetHandType", [] { GetHandType(g_array); },
     [] {
       Discover();
       Check();
       In(102, 0, 0, 5);
     }},
    {"SetHandType", [] { SetHandType(g_array); },
     [] {
       Discover();
       Check();
       In(107, 0x0102, 0x0304, 1);
       Completion();
     }},
    {"WriteLimitCard", [] { WriteLimitCard(g_array); },
     [] {
       Discover();
       Check();
       In(128, 0x0102, 0x0304, 1);
       Completion();
     }},
    {"GetLimitInfo", [] { GetLimitInfo(g_array); },
     [] {
       Discover();
       Check();
       In(102, 0, 0, 5);
       In(103, 0, 0, 5);
     }},
    {"GetRTC", [] { GetRTC(g_array); },
     [] {
       Discover();
       In(200, 0, 0, 7);
       Completion();
     }},
    {"SetRTC", [] { SetRTC(g_array + 4); },
     [] {
       Discover();
       usb_control_msg(g_handle, kOut, 201, 3, 2, g_buffer, 1, kTimeout);
       Completion();
     }},
    // CloseReader alone has nothing left to do after its first call: measure it
    // releasing the handle an OpenReader just took.
    {"OpenReader+CloseReader",
     [] {
       OpenReader(0);
       CloseReader();
     },
     [] {
       Discover();
       usb_close(g_handle);
       g_handle = nullptr;
     }},
};

constexpr int kBatch = 200;

// Nanoseconds per call over one batch.
double TimeBatch(void (*call)()) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kBatch; ++i) {
    call();
    benchmark::ClobberMemory();
  }
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / kBatch;
}

void Compare(benchmark::State& state, const Case& c) {
  SetUpBus();
  double library = 1e300;
  double bare = 1e300;
  long allocations = 0;
  long libraryCalls = 0;
  for (auto _ : state) {
    const long before = g_allocations.load();
    library = std::min(library, TimeBatch(c.library));
    allocations += g_allocations.load() - before;
    libraryCalls += kBatch;
    bare = std::min(bare, TimeBatch(c.bare));
  }
  state.counters["library_ns"] = library;
  state.counters["bare_ns"] = bare;
  state.counters["ratio"] = library / bare;
  if (kCountsAllocations) {
    state.counters["allocs/call"] =
        static_cast<double>(allocations) / static_cast<double>(libraryCalls);
  }
  CloseReader();
  if (g_handle != nullptr) {
    usb_close(g_handle);
    g_handle = nullptr;
  }
}

// After the usual table, the ratios alone, one line per export.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool repeated = run.repetitions > 1;
      if (repeated ? run.run_type == Run::RT_Aggregate && run.aggregate_name == "median"
                   : run.run_type == Run::RT_Iteration) {
        rows_.push_back({run.run_name.function_name, run.counters});
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-24s %12s %12s %8s %12s\n", "export", "library ns", "bare ns", "ratio",
                "allocs/call");
    double worst = 0;
    for (const auto& [name, counters] : rows_) {
      // An init-capture: clang 14 cannot capture a structured binding by name.
      const auto value = [&row = counters](const char* key) {
        const auto found = row.find(key);
        return found == row.end() ? -1.0 : found->second.value;
      };
      worst = std::max(worst, value("ratio"));
      char perCall[16] = "-";
      if (value("allocs/call") >= 0) {
        std::snprintf(perCall, sizeof perCall, "%.2f", value("allocs/call"));
      }
      std::printf("%-24s %12.1f %12.1f %8.3f %12s\n", name.c_str(), value("library_ns"),
                  value("bare_ns"), value("ratio"), perCall);
    }
    std::printf("worst ratio: %.3f (goal: at most 1.2)\n", worst);
  }

 private:
  std::vector<std::pair<std::string, benchmark::UserCounters>> rows_;
};

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : kCases) {
    benchmark::RegisterBenchmark(c.name, [&c](benchmark::State& s) { Compare(s, c); });
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
