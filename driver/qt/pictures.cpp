#include "driver/qt/pictures.hpp"

#include <cstdio>
#include <filesystem>

#include "display/hooks.hpp"
#include "display/qt/painter.hpp"
#include "display/recording.hpp"

namespace zelk::driver {

namespace fs = std::filesystem;

namespace {

class QtFilePictures final : public FilePictures {
public:
    QtFilePictures(const BatchOptions& opt, const FileJob& job)
        : dir_(opt.plots), input_(job.input), format_(opt.plot_format),
          rec_(display::CANVAS_WIDTH, display::CANVAS_HEIGHT), plot_(rec_) {
        plot_.open();
        plot_.set_pause(false);
        rec_.reset();
        if (opt.plot_data) {
            display::Display& d = plot_.display();
            d.WRITE_DATA = true;
            d.DATA_PREFIX = (fs::path(dir_) / (fs::path(input_).filename().string() + ".")).string();
        }
    }

    PlotHooks& hooks() override { return plot_; }

    void record_done(int32_t RECNO) override {
        // A record drawn at a debug level without plots leaves nothing to picture.
        if (rec_.primitives().empty()) return;
        std::string e;
        bool ok = true;
        if (format_ == "pdf") {
            ok = pdf_.page(rec_, (fs::path(dir_) / (fs::path(input_).filename().string() + ".pdf")).string(), e);
        } else if (format_ == "svg") {
            ok = display::qt::write_svg(rec_, picture_name(dir_, input_, RECNO, "svg"), e);
        } else {
            ok = display::qt::write_png(rec_, picture_name(dir_, input_, RECNO, "png"), e);
        }
        if (!ok && error_.empty()) error_ = e;
        rec_.reset();
    }

    bool finish(std::string& error) override {
        std::string e;
        if (!pdf_.close(e) && error_.empty()) error_ = e;
        e.clear();
        if (!plot_.finish_files(e) && error_.empty()) error_ = e;
        error = error_;
        return error_.empty();
    }

private:
    std::string dir_, input_, format_;
    display::RecordingSurface rec_;
    display::SurfacePlotter plot_;
    display::qt::PdfDocument pdf_;
    std::string error_;
};

}  // namespace

std::string picture_name(const std::string& dir, const std::string& input, int32_t RECNO,
                         const std::string& ext) {
    char num[16];
    std::snprintf(num, sizeof num, "%04d", static_cast<int>(RECNO));
    return (fs::path(dir) / (fs::path(input).filename().string() + "." + num + "." + ext)).string();
}

std::unique_ptr<FilePictures> qt_pictures(const BatchOptions& opt, const FileJob& job) {
    return std::make_unique<QtFilePictures>(opt, job);
}

}  // namespace zelk::driver
