// Build-time tool: writes the visual-styles manifest that the program would write beside itself
// at its first start, so that an installed program finds it
// and never writes into a directory that belongs to the package manager.
//
//   quorvane-manifest-file BASENAME DIRECTORY
#include <iostream>

#include "startup/xp_manif.h"

int main(int argc, char* argv[]) {
    using namespace quorvane::startup;
    if (argc != 3) {
        std::cerr << "usage: quorvane-manifest-file BASENAME DIRECTORY\n";
        return 2;
    }
    const std::string baseName = argv[1];
    const auto file = manifestPath(argv[2], baseName);
    if (!writeManifest(file, manifestText(baseName, descriptionText()))) {
        std::cerr << "quorvane-manifest-file: cannot write " << file << '\n';
        return 1;
    }
    return 0;
}
