// Start at login: the autostart entry read back by the desktop's own
// key-file and command-line parsers, and the setting following the file.
#include "maintenance/login_item.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "core/atomic_file.h"
#include "temp_home.h"

namespace fs = std::filesystem;

namespace {

struct ParsedEntry {
    std::string type, name, icon, autostart;
    std::vector<std::string> argv;
};

// What a desktop makes of the entry: the key file's string values, then the
// Exec line with its field codes expanded (%% is the only one we write) and
// split as the desktop entry rules say.
std::optional<ParsedEntry> parseAsTheDesktopDoes(const std::string& text) {
    GKeyFile* file = g_key_file_new();
    GError* error = nullptr;
    std::optional<ParsedEntry> out;
    if (g_key_file_load_from_data(file, text.data(), text.size(), G_KEY_FILE_NONE, &error)) {
        auto get = [&](const char* key) {
            gchar* value = g_key_file_get_string(file, "Desktop Entry", key, nullptr);
            std::string s = value ? value : "<missing>";
            g_free(value);
            return s;
        };
        ParsedEntry entry{get("Type"), get("Name"), get("Icon"), get("X-GNOME-Autostart-enabled"), {}};
        std::string exec = get("Exec"), expanded;
        for (size_t i = 0; i < exec.size(); ++i) {
            if (exec[i] == '%' && i + 1 < exec.size() && exec[i + 1] == '%') ++i;
            expanded += exec[i];
        }
        gint argc = 0;
        gchar** argv = nullptr;
        if (g_shell_parse_argv(expanded.c_str(), &argc, &argv, nullptr)) {
            for (gint i = 0; i < argc; ++i) entry.argv.emplace_back(argv[i]);
            g_strfreev(argv);
            out = entry;
        }
    }
    if (error) g_error_free(error);
    g_key_file_free(file);
    return out;
}

TEST(LoginItem, EntryRoundTripsThroughTheDesktopParsers) {
    const std::string paths[] = {
        "/opt/Kestro Agent.app/bin/kestro-agent",
        "/home/o'neil/Apps/Kestro \"Agent\".app/bin/kestro-agent",
        "/tmp/$(touch pwned)/`id`/a\\b/100% sure/%f/kestro-agent",
        "/tmp/tab\there/new\nline/kestro-agent",
        "/tmp/été/エージェント/kestro-agent",
    };
    for (const auto& path : paths) {
        auto entry = parseAsTheDesktopDoes(LoginItem::entryText(path));
        ASSERT_TRUE(entry) << path;
        EXPECT_EQ(entry->type, "Application");
        EXPECT_EQ(entry->name, "Kestro Agent");
        EXPECT_EQ(entry->icon, "io.kestro.agent");
        EXPECT_EQ(entry->autostart, "true");
        EXPECT_EQ(entry->argv, std::vector<std::string>{path});
    }
}

TEST(LoginItem, LivesInTheAutostartFolderOfTheConfigHome) {
    TempHome home;
    EXPECT_EQ(LoginItem::path(), home.path() + "/.config/autostart/io.kestro.agent.desktop");
}

TEST(LoginItem, SettingFollowsTheFile) {
    TempHome home;
    EXPECT_FALSE(LoginItem::isEnabled());
    LoginItem::set(false);  // nothing to remove: nothing happens
    EXPECT_FALSE(LoginItem::isEnabled());

    // The autostart folder does not exist yet.
    LoginItem::set(true, "/opt/Kestro Agent.app/bin/kestro-agent");
    EXPECT_TRUE(LoginItem::isEnabled());
    auto first = AtomicFile::read(LoginItem::path());
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, LoginItem::entryText("/opt/Kestro Agent.app/bin/kestro-agent"));

    // Moved application: the entry follows it, with no stray temporary file.
    LoginItem::set(true, "/elsewhere/Kestro Agent.app/bin/kestro-agent");
    EXPECT_EQ(*AtomicFile::read(LoginItem::path()), LoginItem::entryText("/elsewhere/Kestro Agent.app/bin/kestro-agent"));
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(home.path() + "/.config/autostart")) ++files;
    EXPECT_EQ(files, 1u);

    LoginItem::set(false);
    EXPECT_FALSE(LoginItem::isEnabled());

    // Anything placed there by hand counts, whatever it holds.
    home.write(".config/autostart/io.kestro.agent.desktop", "not a desktop entry");
    EXPECT_TRUE(LoginItem::isEnabled());
    LoginItem::set(false);
    EXPECT_FALSE(LoginItem::isEnabled());

    // The default entry starts this very executable.
    LoginItem::set(true);
    auto entry = parseAsTheDesktopDoes(*AtomicFile::read(LoginItem::path()));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->argv, std::vector<std::string>{fs::canonical("/proc/self/exe").string()});
}

TEST(LoginItem, AnUnwritableFolderIsSilent) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    TempHome home;
    fs::create_directories(home.path() + "/.config/autostart");
    ::chmod((home.path() + "/.config/autostart").c_str(), 0500);
    LoginItem::set(true, "/opt/Kestro Agent.app/bin/kestro-agent");
    EXPECT_FALSE(LoginItem::isEnabled());
    ::chmod((home.path() + "/.config/autostart").c_str(), 0700);
}

}  // namespace
