// The include graph between the source folders points downward only: a file may include
// headers of its own folder and of folders of a lower layer, never of its own layer's other
// folders or of a layer above. The table is the one ARCHITECTURE.md describes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "ztest.hpp"

namespace fs = std::filesystem;

namespace {

// Layer of each source folder; a higher number is a higher layer.
const std::map<std::string, int> LAYERS = {
    {"platform", 0}, {"core", 1},      {"profile", 2},  {"iondata", 3}, {"models", 3},
    {"inversion", 4}, {"products", 5}, {"pipeline", 6}, {"display", 7}, {"driver", 8},
    {"app", 9},
};
// Layers below this one use the C++ standard library only (no Qt).
constexpr int DISPLAY_LAYER = 7;

struct Violation {
    std::string file;   // relative to the root
    int line = 0;
    std::string what;   // the include text
};

// Every include of every source file of the layered folders under root that points to
// another folder of the same or a higher layer, to a folder the table does not know, or to
// Qt below the display.
std::vector<Violation> upward_includes(const fs::path& root) {
    static const std::regex quoted(R"(^\s*#\s*include\s*"([A-Za-z0-9_]+)/[^"]*")");
    static const std::regex qt(R"(^\s*#\s*include\s*<Q[A-Za-z]*[>/])");
    std::vector<Violation> found;
    for (const auto& [folder, layer] : LAYERS) {
        const fs::path dir = root / folder;
        if (!fs::is_directory(dir)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".hpp" && ext != ".h")) continue;
            std::ifstream in(entry.path());
            std::string text;
            for (int n = 1; std::getline(in, text); ++n) {
                std::smatch m;
                bool bad = false;
                if (std::regex_search(text, m, quoted)) {
                    const auto to = LAYERS.find(m[1].str());
                    bad = m[1].str() != folder && (to == LAYERS.end() || to->second >= layer);
                } else {
                    bad = layer < DISPLAY_LAYER && std::regex_search(text, qt);
                }
                if (bad) found.push_back({fs::relative(entry.path(), root).string(), n, text});
            }
        }
    }
    return found;
}

void put(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

}  // namespace

TEST(Layers, NoSourceFileIncludesUpward) {
    const auto found = upward_includes(ZELK_SOURCE_DIR);
    for (const Violation& v : found) ADD_FAILURE() << v.file << ':' << v.line << ": " << v.what;
    EXPECT_TRUE(found.empty());
    // The scan did read the tree: the pipeline includes the inversion, downward.
    EXPECT_TRUE(fs::exists(fs::path(ZELK_SOURCE_DIR) / "pipeline" / "zelk.hpp"));
}

// The checker itself, on a small tree with one include of each kind.
TEST(Layers, CheckerFindsEachKindOfViolation) {
    ztest::ScratchDir tmp;
    const fs::path root = tmp.path();
    put(root / "core/ok.hpp", "#include \"core/diag.hpp\"\n#include <vector>\n");
    put(root / "pipeline/ok.cpp", "#include \"inversion/inversion.hpp\"\n#include \"core/ok.hpp\"\n");
    put(root / "inversion/up.cpp", "// the run context\n#include \"pipeline/zelk.hpp\"\n");
    put(root / "models/side.hpp", "  #  include \"iondata/record.hpp\"\n");
    put(root / "products/unknown.cpp", "#include \"widgets/w.hpp\"\n");
    put(root / "iondata/qt.cpp", "#include <QtCore/QString>\n");
    put(root / "display/qt.cpp", "#include <QPainter>\n#include \"pipeline/ok.hpp\"\n");
    put(root / "tests/any.cpp", "#include \"driver/batch.hpp\"\n");   // not a layer: not checked

    auto found = upward_includes(root);
    std::sort(found.begin(), found.end(), [](const Violation& a, const Violation& b) { return a.file < b.file; });
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].file, "inversion/up.cpp");
    EXPECT_EQ(found[0].line, 2);
    EXPECT_EQ(found[1].file, "iondata/qt.cpp");
    EXPECT_EQ(found[2].file, "models/side.hpp");
    EXPECT_EQ(found[3].file, "products/unknown.cpp");
}
