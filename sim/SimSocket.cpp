#include "sim/SimSocket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "chips/ChipCatalogue.h"
#include "sim/SimFiles.h"
#include "sim/SimOptions.h"

namespace sim::detail {

namespace {

constexpr const char* USAGE =
    "usage: veltro51-sim socket --tree DIR --programmer K insert CHIP [--signature HEX] [--lock MODE]\n"
    "       veltro51-sim socket --tree DIR --programmer K remove|unplug|plug\n";

int Usage(const std::string& error) {
    std::fprintf(stderr, "veltro51-sim socket: %s\n%s", error.c_str(), USAGE);
    return 2;
}

int Refused(const std::string& error) {
    std::fprintf(stderr, "veltro51-sim socket: %s\n", error.c_str());
    return 1;
}

// The device file of programmer K: its position in the tree (1 = first), or its "BUS/DEVICE".
std::string FindProgrammer(const std::string& root, const std::string& name) {
    std::vector<std::string> programmers;
    for (const std::string& path : FindDeviceFiles(root)) {
        const int fd = open(CurrentPath(path).c_str(), O_RDONLY | O_CLOEXEC);
        Record record{};
        const bool ours = fd >= 0 && ReadRecord(fd, record) && record.chip != FOREIGN_DEVICE;
        if (fd >= 0)
            close(fd);
        if (ours)
            programmers.push_back(path);
    }
    if (name.find('/') != std::string::npos) {
        for (const std::string& path : programmers) {
            const size_t device = path.rfind('/');
            const size_t bus = path.rfind('/', device - 1);
            const std::string location = path.substr(bus + 1);
            if (location == name)
                return path;
        }
        return "";
    }
    char* end = nullptr;
    const long k = std::strtol(name.c_str(), &end, 10);
    if (name.empty() || *end != '\0' || k < 1 || k > static_cast<long>(programmers.size()))
        return "";
    return programmers[static_cast<size_t>(k - 1)];
}

} // namespace

int RunSocketCommand(int argc, char** argv) {
    std::string tree, programmer, action, chipName;
    SimSetup setup;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--tree" || arg == "--programmer" || arg == "--signature" || arg == "--lock") {
            if (i + 1 >= argc)
                return Usage(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--tree") {
                tree = value;
            } else if (arg == "--programmer") {
                programmer = value;
            } else {
                std::string error;
                if (!ApplySetting(setup, arg.substr(2), value, error))
                    return Usage(error);
                setup.given.insert(arg.substr(2));
            }
        } else if (arg.rfind("--", 0) == 0) {
            return Usage("unknown option " + arg);
        } else if (action.empty()) {
            action = arg;
        } else if (action == "insert" && chipName.empty()) {
            chipName = arg;
        } else {
            return Usage("unexpected " + arg);
        }
    }
    if (tree.empty() || programmer.empty() || action.empty())
        return Usage("--tree, --programmer and an action are needed");
    if (action != "insert" && action != "remove" && action != "unplug" && action != "plug")
        return Usage("unknown action " + action);
    if (action != "insert" && (!chipName.empty() || !setup.given.empty()))
        return Usage(action + " takes no chip, --signature or --lock");
    int chip = -1;
    if (action == "insert" && (chip = FindChipByName(chipName)) < 0)
        return Usage("insert wants a catalogue chip, not '" + chipName + "'");
    if (!IsTree(tree))
        return Refused(tree + " is no simulated device tree");
    const std::string path = FindProgrammer(tree, programmer);
    if (path.empty())
        return Refused("no programmer " + programmer + " in " + tree);

    const int fd = open(CurrentPath(path).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return Refused("cannot open " + path + ": " + std::strerror(errno));
    std::string refusal;
    bool renameToPlugged = false, renameToUnplugged = false;
    {
        // A transfer in flight finishes first; the next one sees the change.
        CFileLock lock(fd, true);
        Record record{};
        if (!ReadRecord(fd, record)) {
            refusal = "cannot read " + path;
        } else if (action == "insert") {
            if (record.chip >= 0) {
                refusal = "socket " + programmer + " holds a chip: remove it first";
            } else {
                record.chip = chip;
                record.flashSize = FlashSizeOf(chip);
                record.signatureOverride =
                    setup.given.count("signature") ? setup.device.signatureOverride : -1;
                record.lockMode = setup.given.count("lock") ? setup.lockMode : 1;
                // A new chip comes erased.
                const std::vector<uint8_t> flash(static_cast<size_t>(record.flashSize), 0xFF);
                if (ftruncate(fd, FLASH_OFFSET + record.flashSize) != 0 || !WriteFlash(fd, flash))
                    refusal = "cannot write " + path;
            }
        } else if (action == "remove") {
            if (record.chip < 0) {
                refusal = "socket " + programmer + " is empty";
            } else {
                record.chip = -1;
                record.flashSize = 0;
                record.signatureOverride = -1;
                record.lockMode = 1;
                if (ftruncate(fd, FLASH_OFFSET) != 0)
                    refusal = "cannot write " + path;
            }
        } else if (action == "unplug") {
            if (record.unplugged)
                refusal = "programmer " + programmer + " is unplugged already";
            record.unplugged = 1;
            record.powered = 0;
            renameToUnplugged = true;
        } else {
            if (!record.unplugged)
                refusal = "programmer " + programmer + " is plugged in already";
            record.unplugged = 0;
            renameToPlugged = true;
        }
        if (refusal.empty() && !WriteRecord(fd, record))
            refusal = "cannot write " + path;
    }
    close(fd);
    if (!refusal.empty())
        return Refused(refusal);
    // Unplugged, the file goes out of the bus walk's sight (a dot name); plugged in, it comes back.
    const size_t slash = path.rfind('/');
    const std::string hidden = path.substr(0, slash + 1) + "." + path.substr(slash + 1);
    if ((renameToUnplugged && rename(path.c_str(), hidden.c_str()) != 0) ||
        (renameToPlugged && rename(hidden.c_str(), path.c_str()) != 0))
        return Refused("cannot rename " + path + ": " + std::strerror(errno));
    return 0;
}

} // namespace sim::detail
