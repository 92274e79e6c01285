// Runs a fuzz target, built without libFuzzer, once on each input named on
// the command line (a directory stands for the files in it): how `make
// test` replays the seed corpora and the reproducers of old findings.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool read_whole(const std::string& path, std::string& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // Everything is read first: the target leaves for its scratch site.
    std::vector<std::pair<std::string, std::string>> inputs;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> paths;
        struct stat st {};
        if (::stat(argv[i], &st) == 0 && S_ISDIR(st.st_mode)) {
            if (DIR* d = ::opendir(argv[i])) {
                while (dirent* e = ::readdir(d))
                    if (e->d_name[0] != '.') paths.push_back(std::string(argv[i]) + "/" + e->d_name);
                ::closedir(d);
            }
            std::sort(paths.begin(), paths.end());
        } else {
            paths.push_back(argv[i]);
        }
        for (const std::string& p : paths) {
            std::string bytes;
            if (!read_whole(p, bytes)) {
                std::fprintf(stderr, "can't read %s\n", p.c_str());
                return 2;
            }
            inputs.emplace_back(p, std::move(bytes));
        }
    }
    for (const auto& [path, bytes] : inputs) {
        std::fprintf(stderr, "%s\n", path.c_str());
        (void)LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "%zu inputs, no finding\n", inputs.size());
    return inputs.empty() ? 2 : 0;
}
