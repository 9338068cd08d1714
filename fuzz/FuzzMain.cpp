// One libFuzzer program per target: VELTRO_FUZZ_TARGET names the body from FuzzTargets.h. A broken
// promise aborts with its description, which libFuzzer reports as a crash and keeps the input.
#include <cstdio>
#include <cstdlib>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string broken = VELTRO_FUZZ_TARGET(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "veltro fuzz: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
