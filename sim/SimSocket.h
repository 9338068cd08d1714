#pragma once
// The operator at a simulated bench: veltro51-sim socket --tree DIR --programmer K ACTION, with ACTION
// insert CHIP [--signature HEX] [--lock MODE], remove, unplug or plug. It changes the device file of
// programmer K (1 for the first of the tree, or BUS/DEVICE as veltro51-cli list shows it) while the
// programs that use the tree run, as a person at the bench would.

namespace sim::detail {

// argv[0] is "socket". Returns the exit status: 0 done, 2 bad usage, 1 refused (a chip already in
// the socket, none to remove, a programmer already unplugged or plugged, a tree or file not usable).
int RunSocketCommand(int argc, char** argv);

} // namespace sim::detail
