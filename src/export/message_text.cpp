#include "export/message_text.h"

namespace tw {

MessageText::MessageText(platform::File& file) : file_(file), base_(file.tell()) {
    if (base_ < 0) base_ = 0;
    file_at_ = base_;
}

MessageText::~MessageText() {
    // The file read ahead of the text; the next message starts where the
    // text ended.
    if (tell() != file_at_) file_.seek(tell());
}

int MessageText::refill() {
    base_ += (long long)len_;
    pos_ = len_ = 0;
    if (file_at_ != base_ && !file_.seek(base_)) return EOF;
    len_ = file_.read(buf_, sizeof buf_);
    file_at_ = base_ + (long long)len_;
    if (len_ == 0) {
        end_of_file_ = true;
        return EOF;
    }
    end_of_file_ = false;
    return (unsigned char)buf_[pos_++];
}

void MessageText::seek(long long offset) {
    end_of_file_ = false;
    if (offset >= base_ && offset <= base_ + (long long)len_) {
        pos_ = std::size_t(offset - base_);
        return;
    }
    base_ = offset;
    pos_ = len_ = 0;
}

void MessageText::skip_to_end() {
    for (int c = getc(); c != EOF && c != 0; c = getc()) {
    }
}

}  // namespace tw
