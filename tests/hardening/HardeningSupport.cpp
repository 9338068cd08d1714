#include "HardeningSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace fs = std::filesystem;

namespace hardening {

void RunWithDeadline(const std::string& name, const std::function<void()>& body, int deadlineSeconds) {
    std::packaged_task<void()> task(body);
    std::future<void> done = task.get_future();
    std::thread worker(std::move(task));
    if (done.wait_for(std::chrono::seconds(deadlineSeconds)) != std::future_status::ready) {
        std::fprintf(stderr, "%s: hang, still running after %d s\n", name.c_str(), deadlineSeconds);
        std::abort();
    }
    worker.join();
    done.get();
}

int DescriptorsUnder(const std::string& folder) {
    const std::string prefix = fs::weakly_canonical(folder).string() + "/";
    int count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
        std::error_code ignored;
        const fs::path target = fs::read_symlink(entry.path(), ignored);
        if (target.string().compare(0, prefix.size(), prefix) == 0)
            ++count;
    }
    return count;
}

void RecordFigures(const std::string& name, const std::vector<std::pair<std::string, long>>& figures) {
    const fs::path folder = fs::path(VELTRO_FIGURES_DIR);
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    std::ofstream out(folder / name, std::ios::trunc);
    for (const auto& [key, value] : figures)
        out << key << ' ' << value << '\n';
}

} // namespace hardening
