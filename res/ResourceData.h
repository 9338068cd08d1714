#pragma once
// The program's pictures, embedded at build time, addressed by resource number.
// PNG for bitmaps and icons, GIF for the animations.

#include <cstddef>
#include <vector>

struct ResourceBlob {
    int id;      // resource number: 128 application icon, 136 row icons, 138 and 140 icons,
                 // 142 and 146 animations, 144 splash, 150 toolbar
    int variant; // the pixel size of one of the application icon's images; 0 for the others
    const unsigned char* data;
    std::size_t size;
};

// Null when there is no such resource.
const ResourceBlob* FindResourceBlob(int id, int variant = 0);
// The variants that exist for a resource number, in table order.
std::vector<int> ResourceVariants(int id);
