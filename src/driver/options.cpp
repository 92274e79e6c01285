#include "driver/options.h"

#include <cstdio>
#include <cstdlib>

#include "driver/output.h"

namespace tw {

RunOptions g_options;

void* alloc_or_die(std::size_t size) {
    void* p = std::calloc(1, size ? size : 1);
    if (!p) {
        error_printf("Error: not enough memory\n");
        std::fflush(nullptr);
        std::_Exit(255);
    }
    return p;
}

}  // namespace tw
