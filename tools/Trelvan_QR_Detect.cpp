// Trelvan_QR_Detect: reads a QR code (or another barcode) from an image and writes
//   READY<CR><LF>
//   <type>:<code><CR><LF>
// where type is "QR" for a QR code and the barcode format's name otherwise. Without a code only
// the READY line is written.
//
//   Trelvan_QR_Detect [--image FILE]
//   Trelvan_QR_Detect --version
//   Trelvan_QR_Detect --help
//
// Without --image the image comes from Trelvan_QR_Detect.ini next to the program: Image=FILE,
// or Folder=DIR for the newest image in that folder. Exit code 0: a code was found; 1: no code
// in the image; 2: no usable image or a bad command line.
//
// The payment module reads standard output and standard error through one pipe and takes any
// second line as a code, so the reason for exit code 2 goes to standard error only when that
// is a terminal.
#include "QRReader.h"
#include "ZumvoVersion.h"
#include "clsProgramArgs.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool ErrorsToTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The lines end in CR LF as written: the C runtime's text mode would make that CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::vector<std::string> args = zumvo::ProgramArguments(argc, argv);
    if (args.size() == 1 && args[0] == "--version") {
        std::fputs("Trelvan_QR_Detect " ZUMVO_VERSION "\n", stdout);
        return 0;
    }
    if (args.size() == 1 && args[0] == "--help") {
        std::fputs("Usage: Trelvan_QR_Detect [--image FILE]\n"
                   "       Trelvan_QR_Detect --version\n"
                   "Reads a QR code (or another barcode) from an image and writes READY, then the code as\n"
                   "TYPE:CODE (TYPE is QR for a QR code, else the barcode format's name), each line ended\n"
                   "by CR LF. The Zumvo payment module runs it from its own folder.\n"
                   "  --image FILE  the image to read; without it, Trelvan_QR_Detect.ini next to the\n"
                   "                program names it: Image=FILE, or Folder=DIR for the newest image there\n"
                   "  --version     print the version and stop\n"
                   "Exit code 0: a code was found; 1: no code in the image; 2: no usable image or a bad\n"
                   "command line (the reason goes to standard error when that is a terminal).\n",
                   stdout);
        return 0;
    }
    const std::filesystem::path program = zumvo::ProgramFile(argv[0]);
    std::string out;
    std::string err;
    const int code = qrreader::RunReader(args, program, out, err);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    if (!err.empty() && ErrorsToTerminal())
        std::fputs(err.c_str(), stderr);
    return code;
}
