// zelk-batch: the headless batch program.
//
// Parses the command line with CLI11 and hands the job to the driver. Exit status: 0 on
// success, 1 when an input could not be read, 2 for a usage error.
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "driver/inspect.hpp"

namespace {

// The options of the command line, as parsed.
struct BatchOptions {
    std::vector<std::string> inputs;
    bool inspect = false;
};

void define_options(CLI::App& app, BatchOptions& o) {
    app.description("ZELK batch program: electron-density profiles from ionogram files (VXO format).");
    app.add_option("INPUT", o.inputs, "input VXO files")->required();
    app.add_flag("--inspect", o.inspect,
                 "list the records of the inputs instead of inverting: one CSV row per record "
                 "(file,record,version,station,stamp,groups,status) on standard output");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zelk-batch"};
    BatchOptions o;
    define_options(app, o);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    if (o.inspect) return zelk::driver::inspect_files(o.inputs, std::cout, std::cerr);
    std::cerr << "zelk-batch: only --inspect is available in this build\n";
    return 2;
}
