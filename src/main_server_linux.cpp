// The fleet server's program on Linux: `veltrix server ARGS...` becomes
// `veltrix-server ARGS...`, so that only this program links the HTTP, TLS
// and database libraries. Started directly, it takes the same arguments.
#include "server/server_command.h"

int main(int argc, char** argv) {
    return veltrix::runServerCommand(argc, argv);
}
