// The batch program's pictures on Qt: each record is drawn on a recording surface through
// the display's plot hooks and, once its inversion is complete, painted into a PNG or SVG
// file of its own or a page of the input's PDF file.
#pragma once

#include <memory>

#include "driver/batch.hpp"

namespace zelk::driver {

// The pictures of one input file, in opt.plots and opt.plot_format.
std::unique_ptr<FilePictures> qt_pictures(const BatchOptions& opt, const FileJob& job);

// The name of a record's picture: <input name>.<RECNO as 4 digits>.<ext> in dir.
std::string picture_name(const std::string& dir, const std::string& input, int32_t RECNO,
                         const std::string& ext);

}  // namespace zelk::driver
