// veltro51-sim: runs a program built against libusb-0.1 with the simulated programmer below it.
//   veltro51-sim [options] [--] PROGRAM [ARGS...]
// Makes a device tree (or uses --tree DIR, made when missing and kept), points USB_DEVFS_PATH at it,
// preloads libveltrosim.so and runs the program; the program's exit status is returned.
// Own failures exit with 125, a program that cannot be run with 126 (found) or 127 (not found).

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Version.h"
#include "sim/SimFiles.h"
#include "sim/SimOptions.h"
#include "sim/SimSocket.h"

using namespace sim::detail;

namespace {

constexpr int EXIT_OWN_FAILURE = 125;

void PrintHelp() {
    std::printf("Usage: veltro51-sim [options] [--] PROGRAM [ARGS...]\n"
                "Runs PROGRAM against simulated Veltro-8051 programmers (libusb-0.1 below it).\n\n"
                "  --help, --version\n"
                "  --tree DIR              keep the device tree in DIR (made when missing), so that\n"
                "                          several runs share one chip\n");
    int count = 0;
    const SettingInfo* settings = Settings(count);
    for (int i = 0; i < count; ++i) {
        std::string option = std::string("--") + settings[i].key + (settings[i].flag ? "" : " VALUE");
        std::printf("  %-22s  %s\n", option.c_str(), settings[i].help);
    }
    std::printf("\nEvery option can also be given as an environment variable:\n");
    for (int i = 0; i < count; ++i)
        std::printf("  %-30s --%s\n", settings[i].variable, settings[i].key);
    std::printf(
        "\nUsage: veltro51-sim socket --tree DIR --programmer K insert CHIP [--signature HEX] [--lock MODE]\n"
        "       veltro51-sim socket --tree DIR --programmer K remove|unplug|plug\n"
        "Puts a chip into socket K of a tree that running programs use, takes it out, or\n"
        "unplugs and plugs in programmer K (1 for the first, or BUS/DEVICE).\n");
}

// The preloadable library: beside this program (build tree), or in the library folder of an install.
std::string FindPreloadLibrary() {
    char self[PATH_MAX];
    const ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    if (size <= 0)
        return {};
    self[size] = '\0';
    std::string folder(self);
    folder.erase(folder.rfind('/'));
    for (const char* relative :
         {"/libveltrosim.so", "/" VELTRO_SIM_INSTALLED_LIBRARY, "/../lib/libveltrosim.so"}) {
        char resolved[PATH_MAX];
        if (realpath((folder + relative).c_str(), resolved) != nullptr)
            return resolved;
    }
    return {};
}

std::string Absolute(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

} // namespace

int main(int argc, char** argv) {
    // The operator: a chip into or out of a socket, a programmer unplugged or plugged in again.
    if (argc >= 2 && std::string(argv[1]) == "socket")
        return RunSocketCommand(argc - 1, argv + 1);
    SimSetup setup;
    bool anySet = false;
    std::string error;
    if (!ReadEnvironment(setup, anySet, error)) {
        std::fprintf(stderr, "veltro51-sim: %s\n", error.c_str());
        return EXIT_OWN_FAILURE;
    }
    // Settings from the environment apply to a new tree only; an existing one changes by options.
    SimSetup options = setup;
    options.given.clear();
    std::string tree;
    int next = 1;
    for (; next < argc; ++next) {
        const std::string arg = argv[next];
        if (arg == "--") {
            ++next;
            break;
        }
        if (arg == "-h" || arg == "--help") {
            PrintHelp();
            return 0;
        }
        if (arg == "--version") {
            std::printf("veltro51-sim %s\n%s\n%s\n", VELTRO_VERSION, VELTRO_COPYRIGHT, VELTRO_LICENCE_NOTICE);
            return 0;
        }
        if (arg.rfind("--", 0) != 0)
            break;
        std::string key = arg.substr(2);
        std::string value;
        const size_t equals = key.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = key.substr(equals + 1);
            key.erase(equals);
        }
        const SettingInfo* setting = FindSetting(key);
        if (key != "tree" && setting == nullptr) {
            std::fprintf(stderr, "veltro51-sim: unknown option %s (see --help)\n", arg.c_str());
            return EXIT_OWN_FAILURE;
        }
        if (!inlineValue) {
            if (setting != nullptr && setting->flag) {
                value = "1";
            } else if (next + 1 < argc) {
                value = argv[++next];
            } else {
                std::fprintf(stderr, "veltro51-sim: %s needs a value\n", arg.c_str());
                return EXIT_OWN_FAILURE;
            }
        }
        if (key == "tree") {
            tree = value;
            continue;
        }
        if (!ApplySetting(setup, key, value, error) || !ApplySetting(options, key, value, error)) {
            std::fprintf(stderr, "veltro51-sim: %s\n", error.c_str());
            return EXIT_OWN_FAILURE;
        }
    }
    if (next >= argc) {
        std::fprintf(stderr, "veltro51-sim: no program to run (see --help)\n");
        return EXIT_OWN_FAILURE;
    }

    const std::string library = FindPreloadLibrary();
    if (library.empty()) {
        std::fprintf(stderr, "veltro51-sim: libveltrosim.so not found beside this program\n");
        return EXIT_OWN_FAILURE;
    }

    bool temporary = false;
    if (tree.empty()) {
        tree = MakeTemporaryFolder("veltro-sim-");
        temporary = true;
        if (tree.empty() || !BuildTree(tree, setup, error)) {
            std::fprintf(stderr, "veltro51-sim: cannot make a device tree: %s\n", error.c_str());
            RemoveTree(tree);
            return EXIT_OWN_FAILURE;
        }
    } else if (IsTree(tree)) {
        if (options.given.count("chip") || options.given.count("programmers"))
            std::fprintf(stderr, "veltro51-sim: %s exists; --chip and --programmers are ignored\n",
                         tree.c_str());
        if (!UpdateTree(tree, options, error)) {
            std::fprintf(stderr, "veltro51-sim: %s\n", error.c_str());
            return EXIT_OWN_FAILURE;
        }
    } else {
        struct stat info {};
        const bool usable =
            stat(tree.c_str(), &info) != 0 || (S_ISDIR(info.st_mode) && rmdir(tree.c_str()) == 0);
        if (!usable || !BuildTree(tree, setup, error)) {
            std::fprintf(stderr, "veltro51-sim: cannot make a device tree in %s%s%s\n", tree.c_str(),
                         usable ? ": " : " (it exists and is not empty)", error.c_str());
            return EXIT_OWN_FAILURE;
        }
    }
    tree = Absolute(tree);

    setenv("USB_DEVFS_PATH", tree.c_str(), 1);
    const char* preload = std::getenv("LD_PRELOAD");
    const std::string preloads = preload != nullptr && *preload != '\0' ? library + ":" + preload : library;
    setenv("LD_PRELOAD", preloads.c_str(), 1);

    // Like system(): the terminal's interrupt reaches the program; this process outlives it to clean up.
    struct sigaction ignore {
    }, savedInt{}, savedQuit{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &savedInt);
    sigaction(SIGQUIT, &ignore, &savedQuit);

    const pid_t child = fork();
    if (child == 0) {
        sigaction(SIGINT, &savedInt, nullptr);
        sigaction(SIGQUIT, &savedQuit, nullptr);
        execvp(argv[next], argv + next);
        const int failure = errno == ENOENT ? 127 : 126;
        std::fprintf(stderr, "veltro51-sim: cannot run %s: %s\n", argv[next], std::strerror(errno));
        _exit(failure);
    }
    int status = 0;
    int result = EXIT_OWN_FAILURE;
    if (child < 0) {
        std::fprintf(stderr, "veltro51-sim: cannot start %s: %s\n", argv[next], std::strerror(errno));
    } else {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (temporary)
        RemoveTree(tree);
    return result;
}
