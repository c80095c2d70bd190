// zelk-batch: the headless batch program. Reads the command line, then either lists the
// records of the inputs (--inspect) or runs the run loop over them.
//
// Exit status: 0 at least one record reached the inversion (for --inspect: every file could
// be read), 1 none did (for --inspect: a file could not be read), 2 usage error, 3 a model
// data file is missing or malformed, 4 an output file or the summary could not be written.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "driver/batch.hpp"
#include "driver/inspect.hpp"
#include "driver/outfile.hpp"
#include "driver/progress.hpp"
#include "driver/vxo_steps.hpp"

int main(int argc, char** argv) {
    using namespace zelk::driver;
    auto usage_error = [](const std::string& text) { return USAGE_ERROR(std::cerr, text); };
    BatchOptions opt;
    std::string error;
    if (!PARSE_BATCH(argc, argv, opt, error)) return usage_error(error);
    if (opt.help) {
        std::cout << BATCH_USAGE();
        return 0;
    }
    if (opt.inspect) {
        if (!opt.output.empty() || !opt.summary.empty() || opt.jobs != 1) {
            return usage_error("--inspect only lists the records; it takes no -o, --summary or --jobs");
        }
        std::vector<std::string> files;
        bool several = false;
        if (!EXPAND_INPUTS(opt.inputs, files, several, error)) return usage_error(error);
        if (opt.shards > 0) files = SHARD_FILES(files, opt.shard, opt.shards);
        return inspect_files(files, std::cout, std::cerr);
    }
    REMOVE_TEMPORARIES_ON_SIGNAL();
    return BATCH_RUN(opt, [] { return std::make_unique<VxoSteps>(); }, std::cout, std::cerr,
                     Progress::STDERR_IS_TERMINAL());
}
