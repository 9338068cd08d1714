#pragma once
// What the fault sweep and the abort tests share: running an operation on a thread of its own with a
// deadline, the descriptors a run left open, and the figures that bench/hardening/figures prints.

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace hardening {

// Runs body on a new thread and waits for it up to deadlineSeconds. A body still running by then
// is a hang: the name and "hang" go to stderr and the process aborts (a thread cannot be cancelled,
// and a test that waits for ever tells nothing).
void RunWithDeadline(const std::string& name, const std::function<void()>& body, int deadlineSeconds = 60);

// How many of this process's descriptors are open on files under folder.
int DescriptorsUnder(const std::string& folder);

// Writes "<key> <value>" lines to <build>/hardening-figures/<name>, replacing the file.
void RecordFigures(const std::string& name, const std::vector<std::pair<std::string, long>>& figures);

} // namespace hardening
