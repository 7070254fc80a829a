// How long packing a large folder takes, split into its parts, and how many handles it holds; what
// the progress dialog costs, shown as the file path shows it while packing takes long; and packing
// as the file path does, with the Shell class registered "Apartment" as Windows has it, from a
// host thread without COM and from one in a single-threaded apartment: each must end, within a
// bound.
//
//   bench_zip.exe [files] [bytes per file] [rounds]     (defaults: 1000 files of 100 KiB, 7 rounds)
//
// Each round runs every variant once, so that a machine that gets busier or quieter meanwhile
// weighs on all of them alike.
//
// ./dev bench runs it on both architectures, beside the stand-in DLL. It registers the stand-in for the shell's ZIP handler in the prefix, as the tests do.
#include "common/win.h"
#include "host/host_api.h"
#include "standins/host/host.h"
#include "tests/rig/files.h"
#include "tests/rig/plugin_fixture.h"
#include "tests/support/com_setup.h"
#include "tests/support/handle_count.h"
#include "zip/packing_progress.h"
#include "zip/zip_archive.h"

#include "registration.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// `files` files of `size` bytes each, 100 to a subfolder, with content that does not compress.
bool MakeSourceFolder(const std::string& root, int files, std::size_t size)
{
    CreateDirectoryA(root.c_str(), nullptr);
    std::string bytes(size, '\0');
    unsigned state = 1;
    for (int i = 0; i < files; ++i) {
        const std::string folder = root + "\\part" + std::to_string(i / 100);
        CreateDirectoryA(folder.c_str(), nullptr);
        for (char& byte : bytes) {
            state = state * 1103515245u + 12345u;
            byte = static_cast<char>(state >> 16);
        }
        if (!rig::WriteBytes(folder + "\\file" + std::to_string(i) + ".bin", bytes)) return false;
    }
    return true;
}

// The highest number of open handles of this process while `work` runs.
class PeakHandles {
public:
    explicit PeakHandles(const std::function<void()>& work)
    {
        baseline_ = rig::OpenHandleCount();
        peak_ = baseline_;
        std::thread sampler([this] {
            while (!done_) {
                peak_ = std::max(peak_.load(), rig::OpenHandleCount());
                Sleep(1);
            }
        });
        work();
        done_ = true;
        sampler.join();
    }
    std::size_t baseline() const { return baseline_; }
    std::size_t peak() const { return peak_; }

private:
    std::size_t baseline_ = 0;
    std::atomic<std::size_t> peak_{0};
    std::atomic<bool> done_{false};
};

double Seconds(const std::function<HRESULT()>& work, HRESULT& result)
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    result = work();
    QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Check(const char* step, HRESULT result)
{
    if (FAILED(result)) std::printf("%s failed: 0x%08lX\n", step, static_cast<unsigned long>(result));
}

// One packing as the file path does it, on a thread of a host in the set-up's apartment.
struct SetUpRun {
    rig::Apartment apartment;
    std::string source;
    std::string archive;
    std::string workFolder;
    HRESULT result = E_FAIL;
    double seconds = 0;
};

constexpr DWORD kSetUpLimitMs = 120000;

DWORD WINAPI PackAsTheFilePath(void* parameter)
{
    auto* run = static_cast<SetUpRun*>(parameter);
    const rig::ApartmentScope host(run->apartment);
    // The file path joins the multithreaded apartment for its command when the thread has none.
    const dl::ComInit command(COINIT_MULTITHREADED);
    try {
        run->seconds = Seconds([&] { return dl::AddToZipArchive(rig::Wide(run->source).c_str(), "source", run->archive.c_str(),
                                                                    run->workFolder); },
                               run->result);
    } catch (const std::exception& error) {
        std::printf("AddToZipArchive raised: %s\n", error.what());
    }
    return 0;
}

// False when the packing did not end within the bound (the process then has to end).
bool TimeSetUp(SetUpRun& run)
{
    dl::WriteEmptyZip(run.archive.c_str());
    const dl::UniqueHandle thread(CreateThread(nullptr, 0, PackAsTheFilePath, &run, 0, nullptr));
    if (!thread || WaitForSingleObject(thread.get(), kSetUpLimitMs) != WAIT_OBJECT_0) return false;
    Check("AddToZipArchive", run.result);
    DeleteFileA(run.archive.c_str());
    return true;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::size_t size = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100 * 1024;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;

    if (!RegisterZipStandIn(rig::BesideExecutable("zipfolder_standin.dll").c_str())) {
        std::fprintf(stderr, "cannot register the stand-in for the ZIP handler\n");
        return 1;
    }
    const std::string base = rig::FreshFolder("dropline-bench");
    const std::string hostTemp = base + "host\\";
    host::SetTempFolder(hostTemp);
    if (!dl::BindHostFunctions()) return 1;
    const std::string source = base + "source";
    if (!MakeSourceFolder(source, files, size)) {
        std::fprintf(stderr, "cannot write the source folder\n");
        return 1;
    }
    const std::string warmUp = base + "warm.txt";
    if (!rig::WriteBytes(warmUp, "warm")) return 1;
    std::printf("source: %d files of %zu bytes (%.1f MB) in %d folders\n", files, size,
                files * static_cast<double>(size) / 1e6, (files + 99) / 100);

    const std::string dll = rig::BesideExecutable("zipfolder_standin.dll");
    std::vector<double> setUpTimes[2];
    const rig::Apartment setUps[2] = {rig::Apartment::kNone, rig::Apartment::kSingleThreaded};
    // Stands in for the compose window that owns the progress dialog.
    const HWND owner = CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                       nullptr, nullptr);
    std::vector<double> whole;
    std::vector<double> shown;
    std::vector<double> copy;
    std::vector<double> pack;
    std::vector<double> walk;
    std::vector<double> removal;
    for (int run = 0; run < runs; ++run) {
        // While no thread of the process is in the multithreaded apartment: the file path's
        // command then creates it and leaves it, as in a host without COM.
        for (int i = 0; i < 2; ++i) {
            if (!RegisterZipStandIn(dll.c_str(), ZipStandInThreading::kApartment)) return 1;
            SetUpRun setUp{setUps[i], source, hostTemp + "setup.zip", hostTemp};
            const bool ended = TimeSetUp(setUp);
            UnregisterZipStandIn();
            if (!ended) {
                std::printf("%s: packing did not end within %lu s\n",
                            rig::Describe({ZipStandInThreading::kApartment, setUps[i]}).c_str(),
                            static_cast<unsigned long>(kSetUpLimitMs / 1000));
                return 1;
            }
            setUpTimes[i].push_back(setUp.seconds);
        }

        const dl::ComInit com(COINIT_MULTITHREADED);
        const std::string archive = hostTemp + "whole.zip";
        HRESULT result = E_FAIL;
        // The first packing in a new apartment pays for setting it up; none of the timed ones should.
        dl::WriteEmptyZip(archive.c_str());
        Check("warm-up", dl::AddToZipArchive(rig::Wide(warmUp).c_str(), "warm.txt", archive.c_str(), hostTemp));
        dl::WriteEmptyZip(archive.c_str());
        whole.push_back(Seconds([&] { return dl::AddToZipArchive(rig::Wide(source).c_str(), "source", archive.c_str(), hostTemp); }, result));
        Check("AddToZipArchive", result);

        DeleteFileA(archive.c_str());
        dl::WriteEmptyZip(archive.c_str());
        shown.push_back(Seconds(
            [&] {
                dl::PackingProgress progress(owner);
                return dl::AddToZipArchive(rig::Wide(source).c_str(), "source", archive.c_str(), hostTemp, &progress);
            },
            result));
        Check("AddToZipArchive with progress", result);

        // The parts, each alone, in the order the whole runs them.
        dl::PackingSource walked;
        walk.push_back(Seconds([&] { return dl::WalkSource(rig::Wide(source).c_str(), walked); }, result));
        Check("WalkSource", result);

        const std::string target = base + "copy";
        copy.push_back(Seconds([&] { return dl::CopySourceTree(walked, target.c_str()); }, result));
        Check("CopySourceTree", result);

        const std::string packed = hostTemp + "packed.zip";
        dl::WriteEmptyZip(packed.c_str());
        pack.push_back(Seconds(
            [&] { return dl::PackWithShell(target, dl::PackedNames(walked, "copy"), walked.bytes, packed.c_str()); },
            result));
        Check("PackWithShell", result);
        removal.push_back(Seconds(
            [&] {
                dl::DeleteTree(rig::Wide(target).c_str());
                walked = {};
                return S_OK;
            },
            result));
        DeleteFileA(archive.c_str());
        DeleteFileA(packed.c_str());
    }

    // Once more, watched: sampling the handle table slows everything down, so it is not timed.
    const dl::ComInit com(COINIT_MULTITHREADED);
    const std::string archive = hostTemp + "watched.zip";
    dl::WriteEmptyZip(archive.c_str());
    const PeakHandles handles([&] { Check("AddToZipArchive", dl::AddToZipArchive(rig::Wide(source).c_str(), "source", archive.c_str(), hostTemp)); });

    auto print = [&](const char* what, const std::vector<double>& times) {
        std::printf("%-34s median %6.2f s  min %6.2f s  (", what, Median(times),
                    *std::min_element(times.begin(), times.end()));
        for (std::size_t i = 0; i < times.size(); ++i) std::printf("%s%.2f", i ? ", " : "", times[i]);
        std::printf(")\n");
    };
    print("AddToZipArchive, whole:", whole);
    print("the same, progress dialog shown:", shown);
    std::printf("%-34s %+6.1f %%\n", "progress dialog's cost:", 100.0 * (Median(shown) / Median(whole) - 1.0));
    print("one walk of the source (WalkSource):", walk);
    print("packing copy alone (CopySourceTree):", copy);
    print("stand-in packing alone:", pack);
    print("removal of the copy alone:", removal);
    const auto least = [](const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); };
    std::printf("%-34s %6.3f (medians), %6.3f (minima)\n", "whole / (walk+copy+packing+removal):",
                Median(whole) / (Median(walk) + Median(copy) + Median(pack) + Median(removal)),
                least(whole) / (least(walk) + least(copy) + least(pack) + least(removal)));
    for (int i = 0; i < 2; ++i) {
        const std::string what =
            "file path, " + rig::Describe({ZipStandInThreading::kApartment, setUps[i]}) + ":";
        print(what.c_str(), setUpTimes[i]);
    }
    std::printf("open handles: %zu before, peak %zu during AddToZipArchive (+%zu)\n", handles.baseline(),
                handles.peak(), handles.peak() - handles.baseline());

    DestroyWindow(owner);
    rig::DeleteTree(base);
    UnregisterZipStandIn();
    return 0;
}
