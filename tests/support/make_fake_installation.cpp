// Makes the tests' fake Windows installation (fake_installation.h) in the folder given, for the
// tests written as scripts.
#include <exception>
#include <iostream>

#include "tests/support/fake_installation.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: make_fake_installation DIR\n";
        return 2;
    }
    try {
        quorvane::testing::makeFakeInstallation(argv[1]);
    } catch (const std::exception& error) {
        std::cerr << "make_fake_installation: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
