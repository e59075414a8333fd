// The program: the mobile DCT server as a system service (see ServiceApplication.h).
#include "host/ServiceApplication.h"

int main(int argc, char** argv) { return dct::RunProgram(argc, argv); }
