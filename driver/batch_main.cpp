// zelk-batch: the headless batch program. Reads the command line, then either lists the
// records of the inputs (--inspect) or runs the run loop over them.
//
// Exit status: 0 at least one record reached the inversion (for --inspect: every file could
// be read), 1 none did (for --inspect: a file could not be read), 2 usage error, 3 a model
// data file is missing, unreadable or malformed, 4 an output file, the summary or standard
// output could not be written, 5 the conversion program of --format other could not be
// started or failed.
#include <csignal>
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
#include "driver/version.hpp"
#include "driver/vxo_steps.hpp"
#ifdef ZELK_WITH_QT
#include "display/qt/painter.hpp"
#include "driver/qt/pictures.hpp"
#endif

namespace {

// Standard output could not be written (a closed pipe, a full disk, the file-size limit):
// said on standard error, and the run ends with status 4 unless a model data file or the
// conversion program already gave 3 or 5.
int check_stdout(int status) {
    std::cout.flush();
    if (std::cout) return status;
    std::cerr << "zelk-batch: standard output could not be written\n";
    return status == 3 || status == 5 ? status : 4;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zelk::driver;
    auto usage_error = [](const std::string& text) { return print_usage_error(std::cerr, text); };
    // A closed standard output and the file-size limit are write errors the program reports
    // (status 4, temporary files removed), not signals that end it on the spot.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    BatchOptions opt;
    std::string error;
    if (!parse_batch(argc, argv, opt, error)) return usage_error(error);
    if (opt.help) {
        std::cout << batch_usage();
        return check_stdout(0);
    }
    if (opt.version) {
        std::cout << version_text("zelk-batch");
        return 0;
    }
    if (!opt.merge.empty()) {
        if (!opt.output.empty() || !opt.summary.empty() || opt.inspect || opt.shards > 0 ||
            opt.shard_auto || opt.skip_existing) {
            return usage_error("--merge-summaries takes only the summaries to merge");
        }
        return merge_summaries(opt.merge, opt.inputs, std::cerr);
    }
    if (opt.shard_auto && !shard_from_environment(process_environment(), opt.shard, opt.shards, error)) {
        return usage_error(error);
    }
    if (opt.inspect && opt.skip_existing) return usage_error("--inspect takes no --skip-existing");
    if (opt.inspect) {
        if (!opt.output.empty() || !opt.summary.empty() || opt.jobs != 1) {
            return usage_error("--inspect only lists the records; it takes no -o, --summary or --jobs");
        }
        std::vector<std::string> files;
        bool several = false;
        if (!expand_inputs(opt.inputs, files, several, error)) return usage_error(error);
        if (opt.shards > 0) files = shard_files(files, opt.shard, opt.shards);
        if (opt.format == InputFormat::VXO) return check_stdout(inspect_files(files, std::cout, std::cerr));
        remove_temporaries_on_signal();
        return check_stdout(inspect_converted(files, opt.format == InputFormat::STANDARD, opt.converter,
                                              opt.converter_timeout, std::cout, std::cerr));
    }
    remove_temporaries_on_signal();
    // Qt is started only for a run that draws pictures; other runs do no Qt work.
    PicturesFactory pictures;
#ifdef ZELK_WITH_QT
    if (!opt.plots.empty()) {
        zelk::display::qt::ensure_application();
        pictures = qt_pictures;
    }
#endif
    return check_stdout(batch_run(opt, [] { return std::make_unique<VxoSteps>(); }, std::cout, std::cerr,
                                  Progress::stderr_is_terminal(), pictures));
}
