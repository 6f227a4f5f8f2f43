// zgl: the creator's commands for batch builds and terminals (zgl_main.cpp reads the line).
#include "app/console/zgl_main.h"

int main(int argc, char** argv) { return zemlo::console::ZglMain(argc, argv); }
