#include "QRReader.h"

#include <QImage>
#include <QImageReader>
#include <QString>

#include <ZXing/BarcodeFormat.h>
#include <ZXing/ReadBarcode.h>
#include <ZXing/TextUtfEncoding.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace qrreader {

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsImageFile(const fs::path& file) {
    static const std::vector<std::string> extensions{".png", ".jpg", ".jpeg", ".bmp",
                                                     ".gif", ".pgm", ".ppm",  ".pbm"};
    const std::string ext = Lower(file.extension().string());
    return std::find(extensions.begin(), extensions.end(), ext) != extensions.end();
}

fs::path Resolve(const fs::path& base, const std::string& value) {
    const fs::path p = fs::path(value);
    return p.is_absolute() ? p : base / p;
}

} // namespace

TImageSource ReadSettings(const fs::path& settingsFile) {
    TImageSource source;
    std::ifstream in(settingsFile);
    std::string line;
    const fs::path base = settingsFile.parent_path();
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[')
            continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = Lower(Trim(line.substr(0, eq)));
        const std::string value = Trim(line.substr(eq + 1));
        if (value.empty())
            continue;
        if (key == "image" && source.Image.empty())
            source.Image = Resolve(base, value);
        else if (key == "folder" && source.Folder.empty())
            source.Folder = Resolve(base, value);
    }
    return source;
}

fs::path NewestImage(const fs::path& folder) {
    fs::path newest;
    fs::file_time_type newestTime{};
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (!entry.is_regular_file(ec) || !IsImageFile(entry.path()))
            continue;
        const auto t = entry.last_write_time(ec);
        // Equal times: the later name wins, so the choice does not depend on directory order.
        if (newest.empty() || t > newestTime || (t == newestTime && entry.path() > newest)) {
            newest = entry.path();
            newestTime = t;
        }
    }
    return newest;
}

std::optional<TBarcode> DecodeImage(const fs::path& image) {
    QImageReader reader(QString::fromStdString(image.string()));
    QImage picture = reader.read();
    if (picture.isNull())
        throw std::runtime_error("cannot read image " + image.string() + ": " +
                                 reader.errorString().toStdString());
    picture = picture.convertToFormat(QImage::Format_Grayscale8);
    const ZXing::ImageView view(picture.constBits(), picture.width(), picture.height(),
                                ZXing::ImageFormat::Lum, static_cast<int>(picture.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setTryHarder(true);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid())
        return std::nullopt;
    TBarcode code;
    code.Type = result.format() == ZXing::BarcodeFormat::QRCode ? "QR" : ZXing::ToString(result.format());
    code.Text = ZXing::TextUtfEncoding::ToUtf8(result.text());
    return code;
}

int RunReader(const std::vector<std::string>& args, const fs::path& programFile, std::string& out,
              std::string& err) {
    // The caller waits for this line before anything else, whatever happens next.
    out += "READY\r\n";
    fs::path image;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--image" && i + 1 < args.size()) {
            image = fs::path(args[++i]);
        } else {
            err += "unknown argument: " + args[i] + "\n";
            return 2;
        }
    }
    if (image.empty()) {
        fs::path settingsFile = programFile;
        settingsFile.replace_extension(".ini");
        const TImageSource source = ReadSettings(settingsFile);
        if (!source.Image.empty()) {
            image = source.Image;
        } else if (!source.Folder.empty()) {
            image = NewestImage(source.Folder);
            if (image.empty()) {
                err += "no image in folder " + source.Folder.string() + "\n";
                return 2;
            }
        } else {
            err +=
                "no image given: use --image FILE, or Image= or Folder= in " + settingsFile.string() + "\n";
            return 2;
        }
    }
    try {
        const auto code = DecodeImage(image);
        if (!code)
            return 1;
        out += code->Type + ":" + code->Text + "\r\n";
        return 0;
    } catch (const std::exception& e) {
        err += std::string(e.what()) + "\n";
        return 2;
    }
}

} // namespace qrreader
