// The bridge's own configuration file: "Keyword value" lines, '#' or ';'
// starting a comment line. It names the gateway's SOUP directory and the
// mail and news systems on the other side.
#pragma once

#include <string>
#include <vector>

namespace twsoup {

struct Endpoint {
    std::string host;
    int port = 119;
    bool set() const { return !host.empty(); }
};

struct BridgeConfig {
    std::string soup_dir;                   // SoupDir, ends in '/'
    int lock_wait = 0;                      // LockWait: seconds to wait for the SOUP lock

    // Packing.
    std::vector<std::string> maildirs;      // Maildir
    std::string maildir_done;               // MaildirDone: folder for packed mail, "delete" to remove
    std::vector<std::string> mboxes;        // Mbox
    std::string mbox_done;                  // MboxDone: mbox the packed mail is added to, "delete"
    std::vector<std::string> rnews_dirs;    // RnewsDir: every plain file in it is a batch
    std::string rnews_done;                 // RnewsDone: directory for packed batches, "delete" (default)
    std::string mail_area = "Email";        // MailArea
    long long max_message = 16LL << 20;     // MaxMessageSize (bytes)

    // NNTP fetch.
    Endpoint nntp;                          // NntpServer host[:port]
    std::vector<std::string> groups;        // NewsGroup: fetched when NntpServer is set; picks batch areas
    std::string state_file;                 // NntpState
    std::string nntp_user, nntp_password;   // NntpUser, NntpPassword
    int timeout = 60;                       // NntpTimeout (seconds)
    long first_articles = 100;              // NewGroupArticles: taken from a group seen first

    // Delivery.
    std::string sendmail = "/usr/sbin/sendmail -t -i";  // Sendmail
    std::string news_command;               // NewsCommand: e.g. "inews -h"; else NNTP POST
    Endpoint post;                          // PostServer (default: NntpServer)
    std::string refused_dir;                // RefusedDir
    int command_timeout = 300;              // CommandTimeout (seconds)
};

// Reads the file; reports problems with "! " and returns false on any.
bool load_config(const std::string& path, BridgeConfig& cfg);

}  // namespace twsoup
