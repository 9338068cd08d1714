// libveltrosim.so: the interposer for black-box runs. With USB_DEVFS_PATH set (veltro51-sim does
// that) it serves the tree named there; without it, VELTRO_SIM_* variables make it build a tree of
// its own for the life of the process.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "sim/SimOptions.h"

using namespace sim::detail;

namespace {

// Plain storage: it must still be there when the destructor runs, after static objects are gone.
char g_ownTree[4096];
pid_t g_owner = 0;

__attribute__((constructor)) void StartSimulator() {
    if (std::getenv("USB_DEVFS_PATH") != nullptr)
        return;
    SimSetup setup;
    bool anySet = false;
    std::string error;
    if (!ReadEnvironment(setup, anySet, error)) {
        std::fprintf(stderr, "veltrosim: %s\n", error.c_str());
        return;
    }
    if (!anySet)
        return;
    const std::string root = MakeTemporaryFolder("veltro-sim-");
    if (root.empty() || !BuildTree(root, setup, error)) {
        std::fprintf(stderr, "veltrosim: cannot make a device tree: %s\n", error.c_str());
        RemoveTree(root);
        return;
    }
    setenv("USB_DEVFS_PATH", root.c_str(), 1);
    std::snprintf(g_ownTree, sizeof g_ownTree, "%s", root.c_str());
    g_owner = getpid();
}

// A forked child inherits this destructor: only the process that made the tree removes it.
__attribute__((destructor)) void StopSimulator() {
    if (g_ownTree[0] != '\0' && getpid() == g_owner)
        RemoveTree(g_ownTree);
}

} // namespace
