#ifndef VELTRO_SIM_HOOKS_H
#define VELTRO_SIM_HOOKS_H
/* Between the interposed C library calls (Interpose.c) and the simulator. Each returns nonzero when
   the simulator handled the call, and then the C library is not called. */

#include <dirent.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dirent* (*veltro_sim_readdir_fn)(DIR*);

/* usbfs requests on a simulated device file; *result is what ioctl returns (errno set when -1). */
int veltro_sim_ioctl(int fd, unsigned long request, void* arg, int* result);

/* A folder of a simulated tree was opened: its entries are read ahead (with readdir, then rewound)
   and served in name order. */
void veltro_sim_dir_opened(DIR* dir, const char* path, veltro_sim_readdir_fn readdir);
int veltro_sim_dir_next(DIR* dir, struct dirent** entry);
void veltro_sim_dir_closed(DIR* dir);

/* Referenced by the in-process bus so that a static link always takes the interposer in. */
extern int veltro_sim_interpose_anchor;

#ifdef __cplusplus
}
#endif

#endif
