#include "export/netmail.h"

#include "driver/output.h"

namespace tw {

void export_netmail() { log_printf("! Export of stored netmail (MailerType ArcMail) is not available yet\n"); }

}  // namespace tw
