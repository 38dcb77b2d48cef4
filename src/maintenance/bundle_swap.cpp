#include "maintenance/bundle_swap.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace BundleSwap {
namespace {

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string notWritable(const std::string& folder) {
    return "le dossier " + folder + " n'est pas modifiable (" + std::strerror(errno) + ")";
}

}  // namespace

std::optional<std::string> whyNotReplaceable(const std::string& target) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "l'application installée " + target + " n'est pas un dossier";
    std::string parent = parentOf(target);
    if (::access(parent.c_str(), W_OK | X_OK) != 0) return notWritable(parent);
    // Removing the old bundle afterwards empties each of its folders: one
    // that belongs to another user (a bundle installed by root) would be
    // left behind half-removed.
    std::error_code ec;
    if (::access(target.c_str(), W_OK | X_OK) != 0) return notWritable(target);
    for (fs::recursive_directory_iterator it(target, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_symlink(ec) || !it->is_directory(ec)) continue;
        if (::access(it->path().c_str(), W_OK | X_OK) != 0) return notWritable(it->path().string());
    }
    if (ec) return "lecture de " + target + " impossible (" + ec.message() + ")";
    return std::nullopt;
}

std::optional<std::string> replace(const std::string& target, const std::string& incoming, const std::string& aside,
                                   const Rename& rename) {
    auto move = [&](const std::string& from, const std::string& to) {
        return rename ? rename(from, to) : ::rename(from.c_str(), to.c_str());
    };
    if (move(target, aside) != 0)
        return "impossible de déplacer " + target + " (" + std::strerror(errno) + ")";
    if (move(incoming, target) != 0) {
        std::string reason = "impossible de mettre la nouvelle version à la place de " + target + " (" +
                             std::strerror(errno) + ")";
        if (move(aside, target) != 0) reason += " ; l'ancienne version reste dans " + aside;
        return reason;
    }
    std::error_code ec;
    fs::remove_all(aside, ec);  // a leftover copy is untidy, not harmful: the new bundle is in place
    return std::nullopt;
}

}  // namespace BundleSwap
