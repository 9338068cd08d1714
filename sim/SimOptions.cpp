#include "sim/SimOptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include "chips/ChipCatalogue.h"
#include "sim/SimFiles.h"

namespace sim {

bool ParseFailKind(const std::string& text, FailKind& kind) {
    static const std::pair<const char*, FailKind> kKinds[] = {{"stall", FailKind::Stall},
                                                              {"timeout", FailKind::Timeout},
                                                              {"unplug", FailKind::Unplug},
                                                              {"short", FailKind::Short}};
    for (const auto& [name, value] : kKinds) {
        if (text == name) {
            kind = value;
            return true;
        }
    }
    return false;
}

} // namespace sim

namespace sim::detail {

namespace {

const SettingInfo kSettings[] = {
    {"chip", "VELTRO_SIM_CHIP", false, "chip in the socket: a catalogue name (any case) or none [AT89S52]"},
    {"programmers", "VELTRO_SIM_PROGRAMMERS", false, "number of programmers, each on a bus of its own [1]"},
    {"product", "VELTRO_SIM_PRODUCT", false, "string descriptor 2 [Veltro-8051]"},
    {"identity", "VELTRO_SIM_IDENTITY", false, "reply to the hardware test, NUL-padded to 8 bytes [TALMORE]"},
    {"string-unreadable", "VELTRO_SIM_STRING_UNREADABLE", true, "string descriptor 2 cannot be read"},
    {"access-denied", "VELTRO_SIM_ACCESS_DENIED", true,
     "the device refuses every request as for a user without rights"},
    {"fail-at", "VELTRO_SIM_FAIL_AT", false, "the k-th vendor request fails (counted from 1; 0: none) [0]"},
    {"fail-count", "VELTRO_SIM_FAIL_COUNT", false, "number of requests that fail from fail-at on [1]"},
    {"fail-kind", "VELTRO_SIM_FAIL_KIND", false, "stall, timeout, unplug or short [stall]"},
    {"instant-timeouts", "VELTRO_SIM_INSTANT_TIMEOUTS", true,
     "a time-out returns at once instead of waiting"},
    {"delay", "VELTRO_SIM_DELAY_MS", false, "milliseconds added to every control transfer [0]"},
    {"byte-write-us", "VELTRO_SIM_BYTE_WRITE_US", false,
     "microseconds a byte-mode chip takes to write a byte, per byte written [0]"},
    {"speed", "VELTRO_SIM_SPEED", false, "stored speed code, 0..255 (0..3 are meaningful) [0]"},
    {"lock", "VELTRO_SIM_LOCK", false, "lock mode of the chip, 1..4 [1]"},
    {"signature", "VELTRO_SIM_SIGNATURE", false,
     "the three signature bytes as six hex digits, for example 1E9906 [the chip's]"},
};

bool ParseInt(const std::string& text, long low, long high, long& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value >= low && value <= high;
}

bool ParseFlag(const std::string& text, bool& value) {
    if (text == "1" || text == "yes" || text == "true" || text == "on") {
        value = true;
        return true;
    }
    if (text == "0" || text == "no" || text == "false" || text == "off" || text.empty()) {
        value = false;
        return true;
    }
    return false;
}

// Applies the record-level settings of setup that were given explicitly.
void ApplyGiven(const SimSetup& setup, Record& record) {
    const DeviceConfig& device = setup.device;
    auto given = [&](const char* key) { return setup.given.count(key) > 0; };
    if (given("product"))
        std::snprintf(record.product, sizeof record.product, "%s", device.product.c_str());
    if (given("identity")) {
        std::memset(record.identity, 0, sizeof record.identity);
        std::memcpy(record.identity, device.identity.data(),
                    std::min(device.identity.size(), sizeof record.identity));
    }
    if (given("string-unreadable"))
        record.stringUnreadable = device.stringUnreadable;
    if (given("access-denied"))
        record.accessDenied = device.accessDenied;
    if (given("fail-at") || given("fail-count") || given("fail-kind")) {
        record.failAt = device.failAt;
        record.failCount = device.failCount;
        record.failKind = static_cast<uint8_t>(device.failKind);
        record.vendorRequests = 0;
    }
    if (given("instant-timeouts"))
        record.instantTimeouts = device.instantTimeouts;
    if (given("delay"))
        record.delayMs = device.delayMs;
    if (given("byte-write-us"))
        record.byteWriteUs = device.byteWriteUs;
    if (given("speed"))
        record.speedCode = device.speedCode;
    if (given("lock") && record.chip >= 0)
        record.lockMode = setup.lockMode;
    if (given("signature"))
        record.signatureOverride = device.signatureOverride;
}

bool UpdateDevice(const std::string& path, const SimSetup& setup, std::string& error) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok;
    {
        CFileLock lock(fd, true);
        Record record{};
        ok = ReadRecord(fd, record);
        if (ok && record.chip != FOREIGN_DEVICE) {
            ApplyGiven(setup, record);
            ok = WriteRecord(fd, record);
        }
    }
    close(fd);
    if (!ok)
        error = "cannot update " + path;
    return ok;
}

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
    return type == FTW_DP ? rmdir(path) : unlink(path);
}

} // namespace

const SettingInfo* Settings(int& count) {
    count = static_cast<int>(std::size(kSettings));
    return kSettings;
}

const SettingInfo* FindSetting(const std::string& key) {
    for (const SettingInfo& setting : kSettings)
        if (key == setting.key)
            return &setting;
    return nullptr;
}

bool ApplySetting(SimSetup& setup, const std::string& key, const std::string& value, std::string& error) {
    DeviceConfig& device = setup.device;
    long number = 0;
    bool flag = false;
    bool ok = true;
    if (key == "chip") {
        std::string lower = value;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const int chip = FindChipByName(value);
        ok = chip >= 0 || lower == "none";
        device.chip = chip;
    } else if (key == "programmers") {
        ok = ParseInt(value, 0, 16, number);
        setup.programmers = static_cast<int>(number);
    } else if (key == "product") {
        ok = value.size() < 127;
        device.product = value;
    } else if (key == "identity") {
        device.identity = value;
    } else if (key == "string-unreadable") {
        ok = ParseFlag(value, flag);
        device.stringUnreadable = flag;
    } else if (key == "access-denied") {
        ok = ParseFlag(value, flag);
        device.accessDenied = flag;
    } else if (key == "fail-at") {
        ok = ParseInt(value, 0, 1 << 30, number);
        device.failAt = static_cast<int>(number);
    } else if (key == "fail-count") {
        ok = ParseInt(value, 1, 1 << 30, number);
        device.failCount = static_cast<int>(number);
    } else if (key == "fail-kind") {
        ok = ParseFailKind(value, device.failKind);
    } else if (key == "instant-timeouts") {
        ok = ParseFlag(value, flag);
        device.instantTimeouts = flag;
    } else if (key == "delay") {
        char* end = nullptr;
        const double ms = std::strtod(value.c_str(), &end);
        ok = !value.empty() && *end == '\0' && ms >= 0 && ms <= 10000;
        device.delayMs = ms;
    } else if (key == "byte-write-us") {
        char* end = nullptr;
        const double us = std::strtod(value.c_str(), &end);
        ok = !value.empty() && *end == '\0' && us >= 0 && us <= 100000;
        device.byteWriteUs = us;
    } else if (key == "speed") {
        ok = ParseInt(value, 0, 255, number);
        device.speedCode = static_cast<uint8_t>(number);
    } else if (key == "lock") {
        ok = ParseInt(value, 1, 4, number);
        setup.lockMode = static_cast<int>(number);
    } else if (key == "signature") {
        ok = value.size() == 6 && ParseInt("0x" + value, 0, 0xFFFFFF, number);
        device.signatureOverride = static_cast<int>(number);
    } else {
        error = "unknown setting " + key;
        return false;
    }
    if (!ok) {
        error = "invalid value for " + key + ": \"" + value + "\"";
        return false;
    }
    setup.given.insert(key);
    return true;
}

bool ReadEnvironment(SimSetup& setup, bool& anySet, std::string& error) {
    anySet = false;
    for (const SettingInfo& setting : kSettings) {
        const char* value = std::getenv(setting.variable);
        if (value == nullptr)
            continue;
        anySet = true;
        if (!ApplySetting(setup, setting.key, value, error)) {
            error = std::string(setting.variable) + ": " + error;
            return false;
        }
    }
    return true;
}

bool BuildTree(const std::string& root, const SimSetup& setup, std::string& error) {
    if (!CreateTree(root, error))
        return false;
    for (int k = 0; k < setup.programmers; ++k) {
        const std::string path = CreateDeviceFile(root, k + 1, k, setup.device, false, error);
        if (path.empty())
            return false;
        if (setup.lockMode != 1) {
            SimSetup lockOnly;
            lockOnly.lockMode = setup.lockMode;
            lockOnly.given = {"lock"};
            if (!UpdateDevice(path, lockOnly, error))
                return false;
        }
    }
    return true;
}

bool UpdateTree(const std::string& root, const SimSetup& setup, std::string& error) {
    for (const std::string& path : FindDeviceFiles(root))
        if (!UpdateDevice(CurrentPath(path), setup, error))
            return false;
    return true;
}

std::string MakeTemporaryFolder(const char* prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return mkdtemp(buffer.data()) != nullptr ? std::string(buffer.data()) : std::string();
}

void RemoveTree(const std::string& root) {
    if (!root.empty())
        nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

} // namespace sim::detail
