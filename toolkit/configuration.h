// Configuration values: compiled defaults, which an INI file may override.
#pragma once

#include <string>

namespace quorvane::toolkit {

struct Configuration {
    std::string makerHost = "www.haldrix.example";       // Web/MakerHost
    std::string vendorHost = "www.microsoft.com";        // Web/VendorHost
    std::string portalHost = "www.msn.com";              // Web/PortalHost
    std::string mailServer = "smtp.haldrix.example:25";  // Mail/Server
    std::string mirrors[3] = {"mirror1.haldrix.example", "mirror2.haldrix.example",
                              "mirror3.haldrix.example"};  // Mail/Mirror1 .. Mail/Mirror3
    std::string registryDirectory;                         // Registry/Directory
};

}  // namespace quorvane::toolkit
