/* The C library calls that libusb-0.1 makes on a device tree, taken over for the simulator and passed
   on (dlsym RTLD_NEXT) for everything else. Linked into a test executable, these definitions override
   the C library's for libusb.so; built into libveltrosim.so, they work through LD_PRELOAD. */

#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>

#include "sim/SimHooks.h"

#define VELTRO_EXPORT __attribute__((visibility("default")))

int veltro_sim_interpose_anchor = 0;

typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef DIR* (*opendir_fn)(const char*);
typedef int (*closedir_fn)(DIR*);

/* Resolved on first use: these calls may come before any constructor has run. The copy through
   memcpy is how ISO C lets an object pointer become a function pointer. */
#define NEXT_SYMBOL(type, name)                                                                              \
    static type next_##name(void) {                                                                          \
        static type s_fn;                                                                                    \
        type fn = __atomic_load_n(&s_fn, __ATOMIC_ACQUIRE);                                                  \
        if (!fn) {                                                                                           \
            void* symbol = dlsym(RTLD_NEXT, #name);                                                          \
            memcpy(&fn, &symbol, sizeof fn);                                                                 \
            __atomic_store_n(&s_fn, fn, __ATOMIC_RELEASE);                                                   \
        }                                                                                                    \
        return fn;                                                                                           \
    }

NEXT_SYMBOL(ioctl_fn, ioctl)
NEXT_SYMBOL(opendir_fn, opendir)
NEXT_SYMBOL(veltro_sim_readdir_fn, readdir)
NEXT_SYMBOL(closedir_fn, closedir)

VELTRO_EXPORT int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    int result;
    if (veltro_sim_ioctl(fd, request, arg, &result))
        return result;
    return next_ioctl()(fd, request, arg);
}

VELTRO_EXPORT struct dirent* readdir(DIR* dir) {
    struct dirent* entry;
    if (veltro_sim_dir_next(dir, &entry))
        return entry;
    return next_readdir()(dir);
}

VELTRO_EXPORT DIR* opendir(const char* path) {
    DIR* dir = next_opendir()(path);
    if (dir)
        veltro_sim_dir_opened(dir, path, next_readdir());
    return dir;
}

VELTRO_EXPORT int closedir(DIR* dir) {
    veltro_sim_dir_closed(dir);
    return next_closedir()(dir);
}
