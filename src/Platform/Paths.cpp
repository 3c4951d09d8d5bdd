#include "Paths.h"

#include <cstdlib>

#ifndef QZM480_CUPS_SERVERBIN
#define QZM480_CUPS_SERVERBIN "/usr/lib/cups"
#endif

namespace qzm::paths {

std::string Root() {
    const char* root = std::getenv("QZM480_ROOT");
    return root ? std::string(root) : std::string();
}

std::string Rooted(std::string_view designed) {
    std::string path = Root();
    path.append(designed);
    return path;
}

std::string ServerBin() { return QZM480_CUPS_SERVERBIN; }

std::string BackendPath() { return ServerBin() + "/backend/" + kBackendName; }

}  // namespace qzm::paths
