// Final check of the Windows dependency cache: a Widgets window clicked through QTest on the
// platform plugin in use, then each library doing a small piece of real work.  Prints one line
// per library and exits non-zero when any of them misbehaves.
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPushButton>
#include <QTest>

#include <curl/curl.h>
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <rapidjson/document.h>
#include <spdlog/spdlog.h>
#include <sqlite3.h>
#include <zlib.h>

#include <cstdio>
#include <jpeglib.h>

#include <zbar.h>

#include <string>
#include <vector>

namespace {

int Failures = 0;

void Report(bool ok, const std::string& line) {
    std::printf("%s%s\n", ok ? "" : "FAILED: ", line.c_str());
    std::fflush(stdout);
    if (!ok)
        ++Failures;
}

class TTill {
public:
    virtual ~TTill() = default;
    virtual int Total(int cents) = 0;
};
class TMockTill : public TTill {
public:
    MOCK_METHOD(int, Total, (int cents), (override));
};

TEST(DepsCheck, MockAnswersAsTold) {
    TMockTill till;
    EXPECT_CALL(till, Total(1250)).WillOnce(::testing::Return(1300));
    EXPECT_EQ(till.Total(1250), 1300);
}

// A 32x16 grey gradient through libjpeg into memory and back.
bool JpegRoundTrip(std::vector<unsigned char>& jpeg, int& width, int& height) {
    const int w = 32, h = 16;
    std::vector<unsigned char> pixels(w * h);
    for (int i = 0; i < w * h; ++i)
        pixels[i] = static_cast<unsigned char>(i % w * 8);
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &pixels[c.next_scanline * w];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    jpeg.assign(out, out + outSize);
    free(out);

    jpeg_decompress_struct d{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), jpeg.size());
    const bool ok = jpeg_read_header(&d, TRUE) == JPEG_HEADER_OK;
    width = static_cast<int>(d.image_width);
    height = static_cast<int>(d.image_height);
    jpeg_destroy_decompress(&d);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QString wanted;
    const std::string expectOption = "--expect-platform=";
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]).rfind(expectOption, 0) == 0) {
            wanted = QString::fromStdString(std::string(argv[i]).substr(expectOption.size()));
            for (int j = i; j < argc; ++j)
                argv[j] = argv[j + 1];
            --argc;
            break;
        }
    }
    QApplication app(argc, argv);

    // Qt Widgets + Test on the platform plugin in use.
    QPushButton button("Pay");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&clicks] { ++clicks; });
    button.resize(120, 40);
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    // The platform the caller asked for (--expect-platform=NAME) must be the one in use: under
    // wine, a QT_QPA_PLATFORM that does not reach the program leaves Qt on the windows platform.
    const QString platform = QGuiApplication::platformName();
    const bool platformOk = wanted.isEmpty() || wanted == platform;
    Report(clicks == 1 && platformOk,
           fmt::format("platform {} clicks {}{}", platform.toStdString(), clicks,
                       platformOk ? "" : " (asked for " + wanted.toStdString() + ")"));

    // libcurl: TLS through Schannel, with zlib.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const curl_version_info_data* cv = curl_version_info(CURLVERSION_NOW);
    const std::string ssl = cv->ssl_version ? cv->ssl_version : "none";
    CURL* handle = curl_easy_init();
    Report(handle && ssl.find("Schannel") != std::string::npos && cv->libz_version,
           fmt::format("curl {} tls {} zlib {}", cv->version, ssl,
                       cv->libz_version ? cv->libz_version : "none"));
    curl_easy_cleanup(handle);
    curl_global_cleanup();

    // SQLite: a table, a sum and a JSON function.
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE t(x INTEGER); INSERT INTO t VALUES (40), (2);", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT sum(x), json_extract('{\"a\":5}', '$.a') FROM t", -1, &st, nullptr);
    const bool row = st && sqlite3_step(st) == SQLITE_ROW;
    const int sum = row ? sqlite3_column_int(st, 0) : -1;
    const int json = row ? sqlite3_column_int(st, 1) : -1;
    sqlite3_finalize(st);
    sqlite3_close(db);
    Report(sum == 42 && json == 5, fmt::format("sqlite {} sum {} json {}", sqlite3_libversion(), sum, json));

    // pugixml and RapidJSON.
    pugi::xml_document xml;
    const bool xmlOk = xml.load_string("<voucher amount=\"12.50\" currency=\"EUR\"/>");
    const double amount = xml.child("voucher").attribute("amount").as_double();
    rapidjson::Document doc;
    doc.Parse("{\"vouchers\": [1, 2, 3]}");
    const bool jsonOk = !doc.HasParseError() && doc["vouchers"].IsArray() && doc["vouchers"].Size() == 3;
    Report(xmlOk && amount == 12.5 && jsonOk,
           fmt::format("pugixml {}.{} amount {:.2f} rapidjson {} items", PUGIXML_VERSION / 1000,
                       PUGIXML_VERSION / 10 % 100, amount, jsonOk ? doc["vouchers"].Size() : 0));

    // zlib round trip.
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "voucher ";
    uLongf packedSize = compressBound(text.size());
    std::vector<Bytef> packed(packedSize);
    compress(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(text.data()), text.size());
    std::string back(text.size(), '\0');
    uLongf backSize = back.size();
    uncompress(reinterpret_cast<Bytef*>(back.data()), &backSize, packed.data(), packedSize);
    Report(back == text,
           fmt::format("zlib {} {} -> {} bytes and back", zlibVersion(), text.size(), packedSize));

    // libjpeg, and the same JPEG through Qt's image plugin (the QR reader loads JPEG pictures).
    std::vector<unsigned char> jpeg;
    int jw = 0, jh = 0;
    const bool jpegOk = JpegRoundTrip(jpeg, jw, jh) && jw == 32 && jh == 16;
    QImage viaQt;
    const bool qtJpeg = viaQt.loadFromData(jpeg.data(), static_cast<int>(jpeg.size()), "JPG") &&
                        viaQt.width() == 32 && viaQt.height() == 16;
    Report(jpegOk && qtJpeg, fmt::format("libjpeg {} bytes {}x{}, Qt image plugin {}", jpeg.size(), jw, jh,
                                         qtJpeg ? "reads it" : "cannot read it"));

    // zbar: a QR code of "ZUMVO-1234" (version 1, drawn here module by module) read back.
    {
        static const char* const rows[] = {
            "#######..#.##.#######", "#.....#..###..#.....#", "#.###.#.##.##.#.###.#",
            "#.###.#..#.#..#.###.#", "#.###.#...#.#.#.###.#", "#.....#.....#.#.....#",
            "#######.#.#.#.#######", "........##.##........", "###.########.##...#..",
            "####.#....#...##.....", ".#...####...#...##.##", "####.#..#.....#.#.##.",
            "########.#..#.#..#.##", "........#.##.#.#.####", "#######.#.##.##..#.##",
            "#.....#.#..###.#.#...", "#.###.#.#.##.##..####", "#.###.#..##...#.####.",
            "#.###.#.#...#..##.#.#", "#.....#.#.#...#....##", "#######.#.#.#.#.#.#.#"};
        const int modules = 21, scale = 4, margin = 4, side = (modules + 2 * margin) * scale;
        std::vector<unsigned char> grey(side * side, 255);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const int my = y / scale - margin, mx = x / scale - margin;
                if (my >= 0 && my < modules && mx >= 0 && mx < modules && rows[my][mx] == '#')
                    grey[y * side + x] = 0;
            }
        zbar::zbar_image_scanner_t* scanner = zbar::zbar_image_scanner_create();
        zbar::zbar_image_scanner_set_config(scanner, zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 0);
        zbar::zbar_image_scanner_set_config(scanner, zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE, 1);
        zbar::zbar_image_t* image = zbar::zbar_image_create();
        zbar::zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
        zbar::zbar_image_set_size(image, side, side);
        zbar::zbar_image_set_data(image, grey.data(), grey.size(), nullptr);
        const int found = zbar::zbar_scan_image(scanner, image);
        std::string decoded;
        if (const zbar::zbar_symbol_t* symbol = zbar::zbar_image_first_symbol(image))
            decoded = zbar::zbar_symbol_get_data(symbol);
        zbar::zbar_image_destroy(image);
        zbar::zbar_image_scanner_destroy(scanner);
        Report(found == 1 && decoded == "ZUMVO-1234", fmt::format("zbar read back \"{}\"", decoded));
    }

    // spdlog (on the external fmt) and GoogleTest + GoogleMock.
    spdlog::info("spdlog {}.{}.{} logging through fmt {}", SPDLOG_VER_MAJOR, SPDLOG_VER_MINOR,
                 SPDLOG_VER_PATCH, FMT_VERSION);
    GTEST_FLAG_SET(brief, true);
    ::testing::InitGoogleMock(&argc, argv);
    const int tests = RUN_ALL_TESTS();
    Report(tests == 0, fmt::format("gtest/gmock {} test(s) run",
                                   ::testing::UnitTest::GetInstance()->test_to_run_count()));

    std::printf("%s\n", Failures == 0 ? "all libraries work" : "some libraries do not work");
    return Failures == 0 ? 0 : 1;
}
