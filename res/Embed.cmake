# Writes one file's bytes as a C++ array: cmake -DIN=file -DOUT=file.cpp -DSYMBOL=name -P Embed.cmake
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}.tmp" "// Generated from ${IN}; do not edit.\n#include <cstddef>\nextern const unsigned char ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}_size;\nconst unsigned char ${SYMBOL}[] = {\n${bytes}\n};\nconst std::size_t ${SYMBOL}_size = ${size};\n")
file(RENAME "${OUT}.tmp" "${OUT}")
