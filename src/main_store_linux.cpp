// The fleet store's program on Linux: `veltrix store ARGS...` becomes
// `veltrix-store ARGS...`, so that only this program links the SQLite,
// PostgreSQL and TLS libraries. Started directly, it takes the same
// arguments.
#include "ui/console/store_command.h"

int main(int argc, char** argv) {
    return veltrix::runStoreCommand(argc, argv);
}
