// codex_toml_dump OUTDIR INPUT...: for each fuzz input (a file, or every file
// of a folder), the text the writer found and the text it wrote, as
// OUTDIR/<name>.before, <name>.after (absent when it refused) and <name>.exe,
// for check_codex_toml.py to read with a real TOML parser.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "codex_toml_case.h"

namespace fs = std::filesystem;

namespace {

void save(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

void dump(const fs::path& input, const fs::path& out) {
    std::ifstream in(input, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CodexTomlCase c = CodexTomlCase::from(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::string name = input.filename().string();
    save(out / (name + ".before"), c.before);
    save(out / (name + ".exe"), c.exe);
    if (c.after) save(out / (name + ".after"), *c.after);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: codex_toml_dump OUTDIR INPUT...\n");
        return 2;
    }
    fs::path out = argv[1];
    fs::create_directories(out);
    size_t count = 0;
    for (int i = 2; i < argc; ++i) {
        fs::path arg = argv[i];
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::directory_iterator(arg))
                if (entry.is_regular_file()) dump(entry.path(), out), ++count;
        } else if (fs::is_regular_file(arg)) {
            dump(arg, out), ++count;
        }
    }
    std::printf("%zu\n", count);
    return 0;
}
