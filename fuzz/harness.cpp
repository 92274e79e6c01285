#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "config/config.h"
#include "config/reader.h"
#include "driver/helpers.h"
#include "driver/message.h"
#include "driver/options.h"
#include "lists/lists.h"

namespace twfuzz {

std::string site_config(std::string_view extra) {
    return "FidoAddr 2:280/1\n"
           "AddrMap 2:280/1.1 joe@example.com Joe Sysop\n"
           "MailerType Binkley\n"
           "InboundDir in/\n"
           "OutboundDir out/\n"
           "SoupDir soup/\n"
           "TempDir tmp/\n" +
           std::string(extra);
}

namespace {

std::string g_root;

int remove_entry(const char* path, const struct stat*, int, FTW*) {
    (void)::remove(path);
    return 0;
}

void remove_site() {
    if (g_root.empty()) return;
    (void)::chdir("/");
    (void)::nftw(g_root.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

// Output that goes nowhere (libFuzzer's -close_fd_mask) is fully buffered,
// so that a warning costs no system call of its own.
void buffer_if_discarded(std::FILE* stream, int fd) {
    static char buffers[2][1 << 16];
    struct stat st {}, null {};
    if (::fstat(fd, &st) != 0 || ::stat("/dev/null", &null) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != null.st_rdev)
        return;
    std::setvbuf(stream, buffers[fd == 2], _IOFBF, sizeof buffers[0]);
}

bool writable_dir(const char* dir) {
    struct stat st {};
    return dir && *dir && ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir, W_OK | X_OK) == 0;
}

// Every run creates, rewrites and removes files: on tmpfs that costs a
// fraction of what a journalled disk file system does.
std::string scratch_parent() {
    if (const char* d = std::getenv("TWFUZZ_DIR"); writable_dir(d)) return d;
    if (writable_dir("/dev/shm")) return "/dev/shm";
    if (const char* d = std::getenv("TMPDIR"); writable_dir(d)) return d;
    return "/tmp";
}

}  // namespace

void enter_site() {
    static bool done = false;
    if (done) return;
    done = true;
    std::string root = scratch_parent() + "/twfuzz.XXXXXX";
    if (!::mkdtemp(root.data()) || ::chdir(root.c_str()) != 0) std::abort();
    g_root = root;
    std::atexit(remove_site);
    buffer_if_discarded(stdout, 1);
    buffer_if_discarded(stderr, 2);
    for (const char* d : {"in", "out", "soup", "tmp", "net", "lists"}) ::mkdir(d, 0755);
    tw::allocate_message_buffers();
    tw::allocate_list_table();
    tw::install_list_config_loader();
    tw::reset_config();
}

bool load_config(const std::string& name) {
    tw::reset_list_table();
    tw::reset_config();
    tw::reset_message();
    tw::options() = tw::RunOptions{};
    tw::GatewayConfig& c = tw::mutable_config();
    if (!tw::read_config_file(name, "tarnwick")) return false;
    if (c.DecodeDir.empty()) c.DecodeDir = c.InboundDir;
    if (c.ExportMaxTo == 0 || c.ExportMaxTo > 1024) c.ExportMaxTo = 1024;
    if (c.ExportMaxXPost == 0 || c.ExportMaxXPost > 1024) c.ExportMaxXPost = 1024;
    return true;
}

void release_config() {
    tw::reset_list_table();
    tw::reset_config();
}

void finish_run() { tw::reset_name_hints(); }

void write_file(const std::string& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) std::abort();
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n <= 0) std::abort();
        bytes.remove_prefix(std::size_t(n));
    }
    ::close(fd);
}

std::string read_file(const std::string& path) {
    std::string out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

namespace {
// Removes the files in `dir` that `keep` does not name.
template <class Keep>
void prune_dir(const std::string& dir, Keep keep) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = ::readdir(d)) {
        if (e->d_type == DT_DIR || keep(e->d_name)) continue;
        std::string path = dir + "/" + e->d_name;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        }
        ::unlink(path.c_str());
    }
    ::closedir(d);
}
}  // namespace

void clear_dir(const std::string& dir) {
    prune_dir(dir, [](const char*) { return false; });
}

void write_list_site() {
    static const char* const texts[] = {"info", "welcome", "bye", "pw", "newpw", "ro", "black"};
    prune_dir("lists", [](const char* name) {
        std::string_view n(name);
        if (n == "t.lst") return true;
        for (const char* t : texts)
            if (n == std::string(t) + ".txt") return true;
        return false;
    });
    for (const char* t : texts)
        write_file(std::string("lists/") + t + ".txt", std::string(t) + " @YOURADDRESS@ pw=@PASSWORD@\n");
    write_file("lists/t.lst",
               "ListName Test List\nListAddress list@gate.example\nKeeperAddress keeper@gate.example\n"
              "SubscribeInfo lists/info.txt\nWelcome lists/welcome.txt\nGoodBye lists/bye.txt\n"
              "PasswordInfo lists/pw.txt\nNewPassword lists/newpw.txt\nReadOnly lists/ro.txt\n"
              "BlackList lists/black.txt\nListUsers\n+\nann@x.example\nAnn\n1\n\n+\ncat@x.example\nCat\n1\n\n");
}

}  // namespace twfuzz
