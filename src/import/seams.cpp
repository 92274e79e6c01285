// Hooks of the converter that the attachment decoder, the attribution scan
// and the body junk test fill in. Until then: attachments stay message text,
// no attribution is found and no body text is junk.
#include "import/pass_state.h"

namespace tw {

void start_base64_attachment(PassState& st) {
    st.base64 = false;
    st.in_content_header = false;
}

bool start_uu_attachment(PassState&, std::string_view) { return false; }

bool decode_data_line(PassState&, std::string_view) { return false; }

void finish_attachment(PassState& st) { st.decoding = DecodeState::None; }

void attribution_scan(std::string_view) {}
void reset_attribution_scan() {}
bool attribution_settled() { return false; }

bool junk_text_in_body(std::string_view) { return false; }

}  // namespace tw
