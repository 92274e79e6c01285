#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "config/config.h"
#include "config/reader.h"
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

void enter_site() {
    static bool done = false;
    if (done) return;
    done = true;
    char root[] = "/tmp/twfuzz.XXXXXX";
    if (!::mkdtemp(root) || ::chdir(root) != 0) std::abort();
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

void write_file(const std::string& path, std::string_view bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
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

void clear_dir(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = ::readdir(d)) {
        std::string path = dir + "/" + e->d_name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(path.c_str());
    }
    ::closedir(d);
}

}  // namespace twfuzz

namespace twfuzz {

void write_list_site() {
    clear_dir("lists");
    for (const char* t : {"info", "welcome", "bye", "pw", "newpw", "ro", "black"})
        write_file(std::string("lists/") + t + ".txt", std::string(t) + " @YOURADDRESS@ pw=@PASSWORD@\n");
    write_file("lists/t.lst",
               "ListName Test List\nListAddress list@gate.example\nKeeperAddress keeper@gate.example\n"
               "SubscribeInfo lists/info.txt\nWelcome lists/welcome.txt\nGoodBye lists/bye.txt\n"
               "PasswordInfo lists/pw.txt\nNewPassword lists/newpw.txt\nReadOnly lists/ro.txt\n"
               "BlackList lists/black.txt\nListUsers\n+\nann@x.example\nAnn\n1\n\n+\ncat@x.example\nCat\n1\n\n");
}

}  // namespace twfuzz
