// The floor under quorvane-cli's start: a C++ program that only prints its version, built and
// linked as the static quorvane-cli is (the same compiler, options and static runtime), so that
// what `list` costs above it is the command's own work (bench/cli_start_timing.sh).
#include <iostream>

int main() {
    std::cout << "quorvane-cli " << QUORVANE_VERSION << '\n';
    return 0;
}
