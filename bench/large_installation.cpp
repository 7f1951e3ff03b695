// Makes the tests' fake Windows installation (tests/support/fake_installation.h) in the folder
// given, its SOFTWARE hive grown to about 100 MB (bench/large_hive.h), for timing quorvane-cli
// --windows on a hive of a real machine's size (bench/cli_start_timing.sh).
#include <exception>
#include <iostream>

#include "bench/large_hive.h"
#include "tests/support/fake_installation.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: large_installation DIR\n";
        return 2;
    }
    try {
        quorvane::bench::growHive(quorvane::testing::makeFakeInstallation(argv[1]).software);
    } catch (const std::exception& error) {
        std::cerr << "large_installation: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
