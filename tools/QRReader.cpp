#include "QRReader.h"

#include <QImage>
#include <QImageReader>
#include <QString>

#ifdef ZUMVO_QR_ZXING
#include <ZXing/BarcodeFormat.h>
#include <ZXing/ReadBarcode.h>
#include <ZXing/TextUtfEncoding.h>
#else
#include <zbar.h>
#endif

#include <algorithm>
#include <fstream>
#include <memory>
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

// The path as Qt takes it: UTF-16 on Windows (the narrow form there is not UTF-8).
QString PathText(const fs::path& p) {
#ifdef _WIN32
    return QString::fromStdWString(p.wstring());
#else
    return QString::fromStdString(p.string());
#endif
}

#ifdef ZUMVO_QR_ZXING
std::optional<TBarcode> Decode(const QImage& grey) {
    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum,
                                static_cast<int>(grey.bytesPerLine()));
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
#else
// zbar's symbol names, as zxing-cpp names the same formats (the names the reader has always
// written); a format missing here keeps zbar's name.
std::string FormatName(zbar::zbar_symbol_type_t type) {
    switch (type) {
    case zbar::ZBAR_QRCODE:
        return "QR";
    case zbar::ZBAR_CODE128:
        return "Code128";
    case zbar::ZBAR_CODE93:
        return "Code93";
    case zbar::ZBAR_CODE39:
        return "Code39";
    case zbar::ZBAR_CODABAR:
        return "Codabar";
    case zbar::ZBAR_I25:
        return "ITF";
    case zbar::ZBAR_DATABAR:
        return "DataBar";
    case zbar::ZBAR_DATABAR_EXP:
        return "DataBarExpanded";
    default:
        return zbar::zbar_get_symbol_name(type);
    }
}

std::optional<TBarcode> Decode(const QImage& grey) {
    // zbar wants the rows packed: copy them out of Qt's padded lines.
    const int width = grey.width(), height = grey.height();
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        std::copy_n(grey.constScanLine(y), width, pixels.begin() + static_cast<std::ptrdiff_t>(y) * width);
    const std::unique_ptr<zbar::zbar_image_scanner_t, void (*)(zbar::zbar_image_scanner_t*)> scanner(
        zbar::zbar_image_scanner_create(), zbar::zbar_image_scanner_destroy);
    zbar::zbar_image_scanner_set_config(scanner.get(), zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 1);
    const std::unique_ptr<zbar::zbar_image_t, void (*)(zbar::zbar_image_t*)> image(zbar::zbar_image_create(),
                                                                                   zbar::zbar_image_destroy);
    zbar::zbar_image_set_format(image.get(), zbar_fourcc('Y', '8', '0', '0'));
    zbar::zbar_image_set_size(image.get(), static_cast<unsigned>(width), static_cast<unsigned>(height));
    zbar::zbar_image_set_data(image.get(), pixels.data(), pixels.size(), nullptr);
    if (zbar::zbar_scan_image(scanner.get(), image.get()) <= 0)
        return std::nullopt;
    const zbar::zbar_symbol_t* symbol = zbar::zbar_image_first_symbol(image.get());
    if (!symbol)
        return std::nullopt;
    TBarcode code;
    code.Type = FormatName(zbar::zbar_symbol_get_type(symbol));
    code.Text.assign(zbar::zbar_symbol_get_data(symbol), zbar::zbar_symbol_get_data_length(symbol));
    return code;
}
#endif

// A path from UTF-8 text (on Windows a narrow std::string is not read as UTF-8), and back.
fs::path Utf8Path(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}
std::string Utf8Text(const fs::path& p) {
    const std::u8string text = p.u8string();
    return std::string(text.begin(), text.end());
}

fs::path Resolve(const fs::path& base, const std::string& value) {
    const fs::path p = Utf8Path(value);
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
    QImageReader reader(PathText(image));
    QImage picture = reader.read();
    if (picture.isNull())
        throw std::runtime_error("cannot read image " + PathText(image).toStdString() + ": " +
                                 reader.errorString().toStdString());
    return Decode(picture.convertToFormat(QImage::Format_Grayscale8));
}

int RunReader(const std::vector<std::string>& args, const fs::path& programFile, std::string& out,
              std::string& err) {
    // The caller waits for this line before anything else, whatever happens next.
    out += "READY\r\n";
    fs::path image;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--image" && i + 1 < args.size()) {
            image = Utf8Path(args[++i]);
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
                err += "no image in folder " + Utf8Text(source.Folder) + "\n";
                return 2;
            }
        } else {
            err +=
                "no image given: use --image FILE, or Image= or Folder= in " + Utf8Text(settingsFile) + "\n";
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
