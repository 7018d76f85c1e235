// Packs a directory tree into the archive the whole-system harness reads:
//   fuzz_pack_tree ROOT OUTPUT [LIMIT-BYTES]
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "support/tree_archive.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ROOT OUTPUT [LIMIT-BYTES]\n", argv[0]);
        return 2;
    }
    std::size_t limit = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1 << 20;
    std::string archive = veltrix::fuzzing::packTree(argv[1], limit);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << archive;
    return out ? 0 : 1;
}
