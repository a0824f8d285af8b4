// The work of the QR reader program: which image to read, and the barcode found in it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qrreader {

// Where the image comes from: a file, or the newest image of a folder (as a scanner that drops
// pictures into a folder leaves them).
struct TImageSource {
    std::filesystem::path Image;
    std::filesystem::path Folder;
};

// Reads the settings file (INI: Image=FILE or Folder=DIR, in any section, ';' and '#' start
// comments; relative paths are taken from the file's folder). Image wins when both are set.
// A missing file gives an empty source.
TImageSource ReadSettings(const std::filesystem::path& settingsFile);

// The newest image file (by modification time) of the folder; empty when it holds none.
std::filesystem::path NewestImage(const std::filesystem::path& folder);

struct TBarcode {
    std::string Type; // "QR" for QR codes, the format's name for any other barcode
    std::string Text; // the decoded text, UTF-8
};

// Decodes the first barcode of the image; nothing when the image holds none. A file that cannot
// be read as an image raises std::runtime_error with the reason.
std::optional<TBarcode> DecodeImage(const std::filesystem::path& image);

// The program's whole run, with its output lines written to out and problems to err. Answers
// the exit code: 0 a code was found, 1 no code in the image, 2 no usable image (missing file,
// unreadable image, nothing configured) or a bad command line.
int RunReader(const std::vector<std::string>& args, const std::filesystem::path& programFile,
              std::string& out, std::string& err);

} // namespace qrreader
