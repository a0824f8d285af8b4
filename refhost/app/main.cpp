// Invoicing and BackOffice: one program, the role taken from its file name.
#include "TRefHost.h"

int main(int argc, char** argv) {
    return refhost::RunRefHost(argc, argv);
}
