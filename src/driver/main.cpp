#include "driver/driver.h"

int main(int argc, char** argv) { return tw::run_program(argc, argv); }
