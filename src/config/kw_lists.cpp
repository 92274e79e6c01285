// Keywords for mailing-list areas: FTN areas linked to Internet mailing
// lists elsewhere, and the list configuration files of hosted lists.
#include "config/keywords.h"

namespace tw {

namespace {
ListConfigLoader g_list_loader;
}

void set_list_config_loader(const ListConfigLoader& loader) { g_list_loader = loader; }

void kw_MailingList(const ConfigLine& at) {
    auto& table = mutable_config().MailingList;
    if (table.full()) return at.warn("too many MailingList keywords");
    std::string_view rest = at.param;
    if (!has_blank(rest)) return at.warn("MailingList misses parameter");
    std::string_view area = split_param(rest);
    if (!has_blank(rest)) return at.warn("MailingList misses parameter");
    std::string_view addresses = split_param(rest);

    // rest: match text [TRUNCATE=text][;SUBJ:text], markers in exact case.
    std::string_view match = rest, truncate, subject;
    std::size_t marker = rest.find("TRUNCATE=");
    if (marker != std::string_view::npos) {
        std::size_t start = marker + 9;
        std::size_t end = rest.size();
        std::size_t subj = rest.find(";SUBJ:", start);
        if (subj != std::string_view::npos) {
            subject = rest.substr(subj + 6);
            // The character before ';' is the separator and is dropped.
            end = subj == start ? start : subj - 1;
        }
        truncate = rest.substr(start, end - start);
        std::size_t cut = marker;
        while (cut > 0 && rest[cut - 1] == ' ') --cut;
        // Without a blank before the marker the match text runs on through it.
        match = rest.substr(0, cut < marker ? cut : end);
    }

    MailingListEntry* e = table.add();
    if (!e) return at.warn("out of memory");
    e->area.assign(area);
    std::size_t comma = addresses.find(',');
    if (comma == std::string_view::npos) {
        parse_email_address(addresses, at, e->list_address);
    } else {
        parse_email_address(addresses.substr(0, comma), at, e->list_address);
        parse_email_address(addresses.substr(comma + 1), at, e->sender_address);
    }
    e->match.assign(match);
    e->truncate.assign(truncate);
    e->subject.assign(subject);
    e->truncate_end.clear();
    e->author = AuthorForm::None;
}

void kw_MailingListOption(const ConfigLine& at) {
    if (!has_blank(at.param)) return at.warn("MailingListOption misses parameter");
    std::string_view option = at.param;
    std::string_view area = split_param(option);
    MailingListEntry* entry = nullptr;
    for (MailingListEntry* e : mutable_config().MailingList) {
        if (iequals(e->area.view(), area)) {
            entry = e;
            break;
        }
    }
    if (!entry) return at.warn("MailingListOption references undefined mailing list area");
    if (istarts_with(option, "truncate=")) {
        entry->truncate.assign(option.substr(9));
    } else if (istarts_with(option, "truncend=")) {
        entry->truncate_end.assign(option.substr(9));
    } else if (istarts_with(option, "truncsubj=")) {
        entry->subject.assign(option.substr(10));
    } else if (istarts_with(option, "author=")) {
        std::string_view word = option.substr(7);
        if (iequals(word, "both")) {
            entry->author = AuthorForm::Both;
        } else if (iequals(word, "email")) {
            entry->author = AuthorForm::Email;
        } else if (iequals(word, "name")) {
            entry->author = AuthorForm::Name;
        } else if (iequals(word, "none")) {
            entry->author = AuthorForm::None;
        } else {
            at.warn("MailingListOption specifies invalid author= option");
        }
    } else {
        at.warn("MailingListOption specifies invalid option");
    }
}

void kw_ListConfig(const ConfigLine& at) {
    if (g_list_loader.count && g_list_loader.count() >= kMaxLists) return at.warn("too many ListConfig keywords");
    ++mutable_config().ListConfigCount;
    if (g_list_loader.load) g_list_loader.load(at.param, at.line, at.file, at.program);
}

}  // namespace tw
