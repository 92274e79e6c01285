#include "export/export.h"

namespace tw {

void export_run() {}

}  // namespace tw
