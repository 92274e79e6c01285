// The import run: Internet mail and news of the SOUP packet become FTN mail.
#pragma once

namespace tw {

void import_run();

}  // namespace tw
