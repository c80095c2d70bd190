// zelk-batch: the headless batch program. Reads the command line, then either lists the
// records of the inputs (--inspect) or runs the run loop over them.
//
// Exit status: 0 at least one record reached the inversion (for --inspect: every file could
// be read), 1 none did (for --inspect: a file could not be read), 2 usage error, 3 a model
// data file is missing or malformed, 4 an output file or the summary could not be written,
// 5 the conversion program of --format other could not be started or failed.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "driver/batch.hpp"
#include "driver/convert.hpp"
#include "driver/inspect.hpp"
#include "driver/merge.hpp"
#include "driver/outfile.hpp"
#include "driver/progress.hpp"
#include "driver/shard.hpp"
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
    if (!opt.merge.empty()) {
        if (!opt.output.empty() || !opt.summary.empty() || opt.inspect || opt.shards > 0 ||
            opt.shard_auto || opt.skip_existing) {
            return usage_error("--merge-summaries takes only the summaries to merge");
        }
        return MERGE_SUMMARIES(opt.merge, opt.inputs, std::cerr);
    }
    if (opt.shard_auto && !SHARD_FROM_ENVIRONMENT(PROCESS_ENVIRONMENT(), opt.shard, opt.shards, error)) {
        return usage_error(error);
    }
    if (opt.inspect && opt.skip_existing) return usage_error("--inspect takes no --skip-existing");
    if (opt.inspect) {
        if (!opt.output.empty() || !opt.summary.empty() || opt.jobs != 1) {
            return usage_error("--inspect only lists the records; it takes no -o, --summary or --jobs");
        }
        std::vector<std::string> files;
        bool several = false;
        if (!EXPAND_INPUTS(opt.inputs, files, several, error)) return usage_error(error);
        if (opt.shards > 0) files = SHARD_FILES(files, opt.shard, opt.shards);
        if (opt.format == InputFormat::VXO) return inspect_files(files, std::cout, std::cerr);
        REMOVE_TEMPORARIES_ON_SIGNAL();
        return INSPECT_CONVERTED(files, opt.format == InputFormat::STANDARD, opt.converter,
                                 opt.converter_timeout, std::cout, std::cerr);
    }
    REMOVE_TEMPORARIES_ON_SIGNAL();
    return BATCH_RUN(opt, [] { return std::make_unique<VxoSteps>(); }, std::cout, std::cerr,
                     Progress::STDERR_IS_TERMINAL());
}
