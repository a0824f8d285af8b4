// zumvo_voucher_sim: the voucher service simulator as a program.
#include "VoucherSim.h"

#include "ZumvoVersion.h"

#include <iostream>
#include <string_view>

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "zumvo_voucher_sim " ZUMVO_VERSION "\n";
        return 0;
    }
    sim::TVoucherSimOptions options;
    try {
        options = sim::ParseVoucherSimArgs(sim::TArgs(argc, argv));
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n" << sim::VoucherSimUsage();
        return 2;
    }
    if (options.Help) {
        std::cout << sim::VoucherSimUsage();
        return 0;
    }
    try {
        sim::TVoucherCatalogue catalogue;
        if (!options.CataloguePath.empty())
            catalogue = sim::TVoucherCatalogue::FromFile(options.CataloguePath);
        sim::TVoucherSim server(std::move(catalogue), options.Config, options.Path);
        server.SetRequestLog(!options.Quiet);
        if (!options.CertFile.empty())
            server.UseTls(options.CertFile, options.KeyFile);
        return sim::RunUntilSignalled(server, options.Host, options.Port);
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 2;
    }
}
