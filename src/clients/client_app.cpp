#include "clients/client_app.h"

#include <sys/stat.h>

bool ClientApp::installed() const {
    if (appPaths.empty()) return true;
    for (const auto& path : appPaths) {
        // stat follows links: a dangling link to a removed program does not count.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) return true;
    }
    return false;
}
