#pragma once
// Settings of a simulated tree, from VELTRO_SIM_* variables (libveltrosim.so) or from the options of
// veltro51-sim. Every programmer of a tree gets the same settings; programmer k sits alone on bus k+1.

#include <set>
#include <string>

#include "sim/SimApi.h"

namespace sim::detail {

struct SimSetup {
    DeviceConfig device;
    int programmers = 1;
    int lockMode = 1;
    std::set<std::string> given; // keys set explicitly
};

struct SettingInfo {
    const char* key;      // option name without the dashes
    const char* variable; // environment variable
    bool flag;            // an option that takes no value
    const char* help;
};

// Every setting, in the order the help lists them.
const SettingInfo* Settings(int& count);
const SettingInfo* FindSetting(const std::string& key);

// Applies one setting; false with a reason when the key is unknown or the value is invalid.
bool ApplySetting(SimSetup& setup, const std::string& key, const std::string& value, std::string& error);
// Applies every VELTRO_SIM_* variable that is set; anySet tells whether there was one.
bool ReadEnvironment(SimSetup& setup, bool& anySet, std::string& error);

// Makes a tree with the setup's programmers (root may exist but must hold no devices).
bool BuildTree(const std::string& root, const SimSetup& setup, std::string& error);
// Applies the explicitly given settings, other than chip and programmers, to every programmer of an
// existing tree; flash, lock mode and speed code stay unless given. A fault restarts the request count.
bool UpdateTree(const std::string& root, const SimSetup& setup, std::string& error);

// A fresh folder under $TMPDIR (or /tmp); empty on failure.
std::string MakeTemporaryFolder(const char* prefix);
// Removes a folder and everything in it.
void RemoveTree(const std::string& root);

} // namespace sim::detail
