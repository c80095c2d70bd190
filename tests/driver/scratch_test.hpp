// A test that works in a scratch directory of its own (removed at its end) and can run the
// batch program there, with standard output and error going to files of that directory.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ztest.hpp"

namespace ztest {

class ScratchTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return scratch_.file(name).string(); }

    // Runs zelk-batch with the arguments (a shell command line); returns its exit status.
    int batch(const std::string& args) const {
        const std::string cmd = std::string(ZELK_BATCH_EXE) + " " + args + " > " +
                                path("stdout") + " 2> " + path("stderr");
        const int rc = std::system(cmd.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

private:
    ScratchDir scratch_;

protected:
    const std::string dir = scratch_.str();
};

}  // namespace ztest
