// Measures loading and saving the largest image (12288 bytes) as Intel HEX, for an image with
// every row used and for a sparse one, beside srec_cat converting the same files in the same run.
// Usage: image_bench [folder for the files, default $TMPDIR or /tmp]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image/IntelHex.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs body repeatedly for at least minSeconds and minRuns; returns seconds per run.
template <typename Body> double TimePerRun(Body body, int minRuns, double minSeconds) {
    int runs = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
        body();
        ++runs;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (runs < minRuns || elapsed < minSeconds);
    return elapsed / runs;
}

// Runs a program with its output discarded; false when it could not start or did not exit with 0.
bool Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Micro(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::path(tmp && *tmp ? tmp : "/tmp");
    std::string pattern = (base / "veltro-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;

    std::mt19937 random(8253);
    FirmwareBuffer full;
    full.m_imageSize = 12288;
    for (int i = 0; i < full.m_imageSize; ++i)
        full.m_image[static_cast<size_t>(i)] =
            static_cast<uint8_t>(random() % 255); // never 0xFF: every row used
    FirmwareBuffer sparse;
    sparse.m_imageSize = 12288;
    // A program at 0, a table in the middle and a few scattered bytes: about one row in twelve used.
    for (int i = 0; i < 512; ++i)
        sparse.m_image[static_cast<size_t>(i)] = static_cast<uint8_t>(random() % 255);
    for (int i = 6000; i < 6200; ++i)
        sparse.m_image[static_cast<size_t>(i)] = static_cast<uint8_t>(random() % 255);
    for (int i = 7; i < 12288; i += 997)
        sparse.m_image[static_cast<size_t>(i)] = 0x5A;

    const bool haveSrecCat = Run({"srec_cat", "-version"});
    double startCost = 0;
    if (haveSrecCat)
        startCost = TimePerRun([] { Run({"srec_cat", "-version"}); }, 10, 0.5);

    std::printf("Intel HEX load and save of a 12288-byte image (files in %s)\n", base.c_str());
    std::printf(
        "save = format, write a temporary, fsync, close, rename; srec_cat = one process per conversion\n");
    if (haveSrecCat)
        std::printf("srec_cat process start alone (-version): %s\n", Micro(startCost).c_str());
    else
        std::printf("srec_cat not found (Debian package srecord): no comparison\n");

    bool ok = true;
    for (const auto& [name, image] : {std::pair{"every row used", &full}, std::pair{"sparse", &sparse}}) {
        const std::string in = (dir / "in.hex").string();
        const std::string out = (dir / "out.hex").string();
        const std::string srecOut = (dir / "srec.hex").string();
        if (!WriteIntelHex(in, *image)) {
            std::printf("cannot write %s\n", in.c_str());
            return 1;
        }
        const auto fileSize = fs::file_size(in);

        FirmwareBuffer buffer;
        buffer.m_imageSize = 12288;
        const double load = TimePerRun(
            [&] {
                buffer.ClearImage();
                ok = ReadIntelHex(in, buffer).ok && ok;
            },
            200, 0.5);
        ok = ok && std::equal(buffer.m_image.begin(), buffer.m_image.begin() + 12288, image->m_image.begin());
        const double save = TimePerRun([&] { ok = WriteIntelHex(out, buffer) && ok; }, 100, 0.5);
        // The text alone, as the save builds it before it touches the disk.
        size_t textSize = 0;
        const double format = TimePerRun(
            [&] {
                std::string text;
                for (int a = 0; a < buffer.m_imageSize; a += 16)
                    if (!IsBlankRow(buffer.m_image.data() + a))
                        text += HexDataRecord(static_cast<uint16_t>(a), buffer.m_image.data() + a) + "\r\n";
                textSize = text.size();
            },
            200, 0.2);
        ok = ok && textSize + 13 == fileSize;
        std::printf("\n%s: %d records, %ju-byte file\n", name, static_cast<int>((fileSize - 13) / 45),
                    static_cast<uintmax_t>(fileSize));
        std::printf("  load          %s\n", Micro(load).c_str());
        std::printf("  save          %s (of which the text alone %s)\n", Micro(save).c_str(),
                    Micro(format).c_str());
        std::printf("  load + save   %s\n", Micro(load + save).c_str());
        if (haveSrecCat) {
            bool srecOk = true;
            const double srec = TimePerRun(
                [&] {
                    srecOk = Run({"srec_cat", in, "-intel", "-o", srecOut, "-intel"}) && srecOk;
                },
                10, 0.5);
            std::printf("  srec_cat      %s per conversion%s\n", Micro(srec).c_str(),
                        srecOk ? "" : " (FAILED)");
            std::printf("  ratio srec_cat / (load + save): %.1f; without srec_cat's process start: %.1f\n",
                        srec / (load + save), (srec - startCost) / (load + save));
            ok = ok && srecOk;
        }
    }
    fs::remove_all(dir);
    if (!ok)
        std::printf("\nSOME RUNS FAILED\n");
    return ok ? 0 : 1;
}
