// zumvo_brand_sim: the brand service simulator as a program.
#include "BrandSim.h"

#include "ZumvoVersion.h"

#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "zumvo_brand_sim " ZUMVO_VERSION "\n";
        return 0;
    }
    sim::TBrandSimOptions options;
    try {
        options = sim::ParseBrandSimArgs(sim::TArgs(argc, argv));
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n" << sim::BrandSimUsage();
        return 2;
    }
    if (options.Help) {
        std::cout << sim::BrandSimUsage();
        return 0;
    }
    try {
        sim::TBrandTable brands;
        if (!options.BrandsPath.empty())
            brands = sim::BrandTableFromFile(options.BrandsPath);
        sim::TBrandSim server(std::move(brands), options.User, options.Password);
        server.SetMode(std::nullopt, options.Mode);
        server.SetRequestLog(!options.Quiet);
        return sim::RunUntilSignalled(server, options.Host, options.Port);
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 2;
    }
}
