#include "BrandSim.h"
#include "clsRapidJson.h"

#include "SoapMessages.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <stdexcept>
#include <strings.h>

namespace sim {

namespace {

using TWriter = zumvo::TRapidWriter;

constexpr std::pair<TBrandMode, const char*> ModeNames[] = {
    {TBrandMode::Normal, "normal"}, {TBrandMode::Empty, "empty"}, {TBrandMode::NonArray, "nonarray"},
    {TBrandMode::Http500, "500"},   {TBrandMode::Drop, "drop"},
};

std::optional<std::int64_t> ParseStore(std::string_view text) {
    std::int64_t value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

zumvo::TRapidDocument ParseJson(const std::string& text, const std::string& what) {
    zumvo::TRapidDocument doc;
    doc.Parse(text.c_str(), text.size());
    if (doc.HasParseError())
        throw std::invalid_argument(
            what + " is not valid JSON: " + rapidjson::GetParseError_En(doc.GetParseError()) + " at offset " +
            std::to_string(doc.GetErrorOffset()));
    return doc;
}

std::vector<TBrand> ReadBrandList(const rapidjson::Value& list, const std::string& where) {
    if (!list.IsArray())
        throw std::invalid_argument(where + ": must be an array of brands");
    std::vector<TBrand> brands;
    for (rapidjson::SizeType i = 0; i < list.Size(); ++i) {
        const rapidjson::Value& item = list[i];
        const std::string at = where + "[" + std::to_string(i) + "]";
        if (!item.IsObject())
            throw std::invalid_argument(at + ": must be an object");
        auto id = item.FindMember("BrandID");
        auto code = item.FindMember("Code");
        auto desc = item.FindMember("Description");
        if (id == item.MemberEnd() || !id->value.IsInt64())
            throw std::invalid_argument(at + ": 'BrandID' must be a whole number");
        if (code == item.MemberEnd() || !code->value.IsString())
            throw std::invalid_argument(at + ": 'Code' must be a string");
        if (desc == item.MemberEnd() || !desc->value.IsString())
            throw std::invalid_argument(at + ": 'Description' must be a string");
        brands.push_back({id->value.GetInt64(), code->value.GetString(), desc->value.GetString()});
    }
    return brands;
}

void WriteBrands(TWriter& w, const std::vector<TBrand>& brands) {
    w.StartArray();
    for (const TBrand& b : brands) {
        w.StartObject();
        w.Key("BrandID");
        w.Int64(b.BrandID);
        w.Key("Code");
        w.String(b.Code.c_str(), static_cast<rapidjson::SizeType>(b.Code.size()));
        w.Key("Description");
        w.String(b.Description.c_str(), static_cast<rapidjson::SizeType>(b.Description.size()));
        w.EndObject();
    }
    w.EndArray();
}

// The credentials of an Authorization header are the expected ones; the scheme name is not
// case-sensitive.
bool Authorised(const httplib::Request& req, const std::string& user, const std::string& password) {
    const std::string expected = httplib::make_basic_authentication_header(user, password).second;
    const std::string given = req.get_header_value("Authorization");
    const auto space = expected.find(' ');
    return given.size() == expected.size() && strncasecmp(given.c_str(), expected.c_str(), space) == 0 &&
           given.compare(space, std::string::npos, expected, space, std::string::npos) == 0;
}

} // namespace

TBrandTable BrandTableFromJson(const std::string& text) {
    zumvo::TRapidDocument doc = ParseJson(text, "brand file");
    if (!doc.IsObject())
        throw std::invalid_argument("brand file must be an object of store numbers");
    TBrandTable table;
    for (auto it = doc.MemberBegin(); it != doc.MemberEnd(); ++it) {
        const std::string key(it->name.GetString(), it->name.GetStringLength());
        const auto store = ParseStore(key);
        if (!store)
            throw std::invalid_argument("brand file: '" + key + "' is not a store number");
        if (table.count(*store))
            throw std::invalid_argument("brand file: store " + key + " listed twice");
        table[*store] = ReadBrandList(it->value, "store " + key);
    }
    return table;
}

TBrandTable BrandTableFromFile(const std::string& path) {
    try {
        return BrandTableFromJson(ReadTextFile(path));
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(path + ": " + e.what());
    }
}

std::vector<TBrand> BrandListFromJson(const std::string& text) {
    return ReadBrandList(ParseJson(text, "brand list"), "brand list");
}

std::string BrandListToJson(const std::vector<TBrand>& brands) {
    zumvo::TRapidStringBuffer buffer;
    TWriter w(buffer);
    WriteBrands(w, brands);
    return buffer.GetString();
}

TBrandMode ParseBrandMode(const std::string& name) {
    for (const auto& [mode, text] : ModeNames)
        if (name == text)
            return mode;
    throw std::invalid_argument("unknown mode '" + name + "' (normal, empty, nonarray, 500, drop)");
}

const char* BrandModeName(TBrandMode mode) {
    for (const auto& [m, text] : ModeNames)
        if (m == mode)
            return text;
    return "?";
}

TBrandSimOptions ParseBrandSimArgs(const TArgs& args) {
    TBrandSimOptions options;
    args.ForEach({"help", "quiet"}, [&](const std::string& name, const std::string& value) {
        if (name == "port")
            options.Port = ParsePort(value);
        else if (name == "host")
            options.Host = value;
        else if (name == "brands")
            options.BrandsPath = value;
        else if (name == "user")
            options.User = value;
        else if (name == "password")
            options.Password = value;
        else if (name == "mode")
            options.Mode = ParseBrandMode(value);
        else if (name == "quiet")
            options.Quiet = true;
        else if (name == "help")
            options.Help = true;
        else
            throw std::invalid_argument("unknown flag --" + name);
    });
    return options;
}

std::string BrandSimUsage() {
    return "usage: zumvo_brand_sim [--port N] [--host ADDR] [--brands FILE] [--user NAME]\n"
           "                       [--password PWD] [--mode normal|empty|nonarray|500|drop] [--quiet]\n"
           "Serves GET /api/brand/store/N with basic authentication. --port 0 (the default) picks a\n"
           "free port; the port is printed as \"listening on PORT\". See sim/README.md.\n";
}

TBrandSim::TBrandSim(TBrandTable brands, std::string user, std::string password)
    : FUser(std::move(user)), FPassword(std::move(password)), FBrands(std::move(brands)) {}

TBrandSim::~TBrandSim() {
    Stop();
}

void TBrandSim::SetMode(std::optional<std::int64_t> store, TBrandMode mode) {
    std::lock_guard lock(FMutex);
    if (store) {
        FStoreModes[*store] = mode;
    } else {
        FMode = mode;
        FStoreModes.clear();
    }
}

TBrandMode TBrandSim::ModeOf(std::int64_t store) const {
    std::lock_guard lock(FMutex);
    auto it = FStoreModes.find(store);
    return it == FStoreModes.end() ? FMode : it->second;
}

void TBrandSim::SetBrands(std::int64_t store, std::vector<TBrand> brands) {
    std::lock_guard lock(FMutex);
    FBrands[store] = std::move(brands);
}

std::string TBrandSim::ModesJson() const {
    std::lock_guard lock(FMutex);
    zumvo::TRapidStringBuffer buffer;
    TWriter w(buffer);
    w.StartObject();
    w.Key("mode");
    w.String(BrandModeName(FMode));
    w.Key("stores");
    w.StartObject();
    for (const auto& [store, mode] : FStoreModes) {
        const std::string key = std::to_string(store);
        w.Key(key.c_str(), static_cast<rapidjson::SizeType>(key.size()));
        w.String(BrandModeName(mode));
    }
    w.EndObject();
    w.EndObject();
    return buffer.GetString();
}

void TBrandSim::Routes(httplib::Server& http) {
    http.Get(R"(/api/brand/store/([^/]+))",
             [this](const httplib::Request& req, httplib::Response& res) { HandleBrands(req, res); });

    http.Get("/mode",
             [this](const httplib::Request&, httplib::Response& res) { ReplyJson(res, 200, ModesJson()); });
    http.Post("/mode", [this](const httplib::Request& req, httplib::Response& res) {
        zumvo::TRapidDocument doc;
        doc.Parse(req.body.c_str(), req.body.size());
        if (doc.HasParseError() || !doc.IsObject())
            return ReplyError(res, 400, "body must be a JSON object {\"store\": N, \"mode\": NAME}");
        auto mode = doc.FindMember("mode");
        if (mode == doc.MemberEnd() || !mode->value.IsString())
            return ReplyError(res, 400, "'mode' must be a string");
        std::optional<std::int64_t> store;
        if (auto s = doc.FindMember("store"); s != doc.MemberEnd() && !s->value.IsNull()) {
            if (s->value.IsInt64() && s->value.GetInt64() >= 0)
                store = s->value.GetInt64();
            else if (s->value.IsString())
                store = ParseStore(s->value.GetString());
            if (!store)
                return ReplyError(res, 400, "'store' must be a store number");
        }
        try {
            SetMode(store, ParseBrandMode(mode->value.GetString()));
        } catch (const std::invalid_argument& e) {
            return ReplyError(res, 400, e.what());
        }
        ReplyJson(res, 200, ModesJson());
    });
    http.Put(R"(/brands/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
        const auto store = ParseStore(req.matches[1].str());
        if (!store)
            return ReplyError(res, 404, "no such store");
        try {
            SetBrands(*store, BrandListFromJson(req.body));
        } catch (const std::invalid_argument& e) {
            return ReplyError(res, 400, e.what());
        }
        ReplyJson(res, 200, req.body);
    });
}

void TBrandSim::HandleBrands(const httplib::Request& req, httplib::Response& res) {
    if (!Authorised(req, FUser, FPassword)) {
        res.set_header("WWW-Authenticate", "Basic realm=\"brand service\"");
        return ReplyError(res, 401, "Unauthorized");
    }
    const auto store = ParseStore(req.matches[1].str());
    if (!store)
        return ReplyError(res, 404, "no such store '" + req.matches[1].str() + "'");

    std::vector<TBrand> brands;
    TBrandMode mode;
    {
        std::lock_guard lock(FMutex);
        auto it = FStoreModes.find(*store);
        mode = it == FStoreModes.end() ? FMode : it->second;
        if (auto b = FBrands.find(*store); b != FBrands.end())
            brands = b->second; // a store the service does not know has no brands
    }
    switch (mode) {
    case TBrandMode::Normal:
        return ReplyJson(res, 200, BrandListToJson(brands));
    case TBrandMode::Empty:
        return ReplyJson(res, 200, "[]");
    case TBrandMode::NonArray:
        return ReplyJson(res, 200, R"({"brands":)" + BrandListToJson(brands) + "}");
    case TBrandMode::Http500:
        res.status = 500;
        res.set_content(BuildErrorPage(500, "Internal Server Error"), "text/html; charset=utf-8");
        return;
    case TBrandMode::Drop:
        DropConnection(req);
        return;
    }
}

} // namespace sim
