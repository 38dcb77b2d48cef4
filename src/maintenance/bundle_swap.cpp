#include "maintenance/bundle_swap.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace BundleSwap {
namespace {

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool writable(const std::string& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; }

std::string notWritable(const std::string& folder, int error) {
    return "le dossier " + folder + " n'est pas modifiable (" + std::strerror(error) + ")";
}

std::vector<std::string> entriesOf(const std::string& folder, const std::string& skip) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name != skip) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Mover {
  public:
    explicit Mover(const Rename& rename) : m_rename(rename) {}
    int operator()(const std::string& from, const std::string& to) const {
        return m_rename ? m_rename(from, to) : ::rename(from.c_str(), to.c_str());
    }

    // Moves every name from one folder to another; on the first failure puts
    // back what it moved and returns false with errno kept.
    bool moveAll(const std::vector<std::string>& names, const std::string& from, const std::string& to) const {
        for (size_t i = 0; i < names.size(); ++i) {
            if ((*this)(from + "/" + names[i], to + "/" + names[i]) != 0) {
                int error = errno;
                moveBack(names, i, from, to);
                errno = error;
                return false;
            }
        }
        return true;
    }

    // Puts back the first `count` names moved from `from` to `to`; false when one would not go.
    bool moveBack(const std::vector<std::string>& names, size_t count, const std::string& from,
                  const std::string& to) const {
        bool all = true;
        for (size_t i = count; i-- > 0;)
            if ((*this)(to + "/" + names[i], from + "/" + names[i]) != 0) all = false;
        return all;
    }

  private:
    const Rename& m_rename;
};

std::optional<std::string> replaceWholeFolder(const Mover& move, const std::string& target, const std::string& incoming,
                                              const std::string& aside) {
    if (move(target, aside) != 0) return "impossible de déplacer " + target + " (" + std::strerror(errno) + ")";
    if (move(incoming, target) != 0) {
        std::string reason =
            "impossible de mettre la nouvelle version à la place de " + target + " (" + std::strerror(errno) + ")";
        if (move(aside, target) != 0) reason += " ; l'ancienne version reste dans " + aside;
        return reason;
    }
    return std::nullopt;
}

std::optional<std::string> replaceContents(const Mover& move, const std::string& target, const std::string& incoming,
                                           const std::string& aside) {
    if (::mkdir(aside.c_str(), 0700) != 0) return notWritable(target, errno);
    // The working folder that holds `aside` stays where it is.
    std::string rel = aside.substr(target.size() + 1);
    std::string skip = rel.substr(0, rel.find('/'));
    const auto oldNames = entriesOf(target, skip);
    const auto newNames = entriesOf(incoming, "");
    if (!move.moveAll(oldNames, target, aside)) {
        std::string reason = "impossible de vider " + target + " (" + std::strerror(errno) + ")";
        ::rmdir(aside.c_str());
        return reason;
    }
    if (!move.moveAll(newNames, incoming, target)) {
        std::string reason =
            "impossible de mettre la nouvelle version dans " + target + " (" + std::strerror(errno) + ")";
        if (!move.moveBack(oldNames, oldNames.size(), target, aside))
            reason += " ; l'ancienne version reste dans " + aside;
        else
            ::rmdir(aside.c_str());
        return reason;
    }
    struct stat st {};
    if (::stat(incoming.c_str(), &st) == 0) ::chmod(target.c_str(), st.st_mode & 0777);
    return std::nullopt;
}

}  // namespace

Plan plan(const std::string& target) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return {std::nullopt, "l'application installée " + target + " n'est pas un dossier"};
    std::string parent = parentOf(target);
    bool parentWritable = writable(parent);
    int parentError = errno;
    // Removing the old bundle afterwards empties each of its folders: one
    // that belongs to another user (a bundle installed by root) would be
    // left behind half-removed. In the contents way the bundle's own folder
    // must take the new entries too.
    if (!writable(target))
        return {std::nullopt, notWritable(parentWritable ? target : parent, parentWritable ? errno : parentError)};
    std::error_code ec;
    for (fs::recursive_directory_iterator it(target, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_symlink(ec) || !it->is_directory(ec)) continue;
        if (!writable(it->path().string())) return {std::nullopt, notWritable(it->path().string(), errno)};
    }
    if (ec) return {std::nullopt, "lecture de " + target + " impossible (" + ec.message() + ")"};
    return {parentWritable ? Way::wholeFolder : Way::contents, ""};
}

std::optional<std::string> replace(Way way, const std::string& target, const std::string& incoming,
                                   const std::string& aside, const Rename& rename) {
    Mover move(rename);
    auto failed = way == Way::wholeFolder ? replaceWholeFolder(move, target, incoming, aside)
                                          : replaceContents(move, target, incoming, aside);
    if (failed) return failed;
    std::error_code ec;
    fs::remove_all(aside, ec);  // a leftover copy is untidy, not harmful: the new bundle is in place
    return std::nullopt;
}

}  // namespace BundleSwap
