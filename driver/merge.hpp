// zelk-batch --merge-summaries: joins the summaries of several runs (the tasks of an array
// job, the shards of a split run) into one, as a single run over all their files would
// have written it.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace zelk::driver {

// Writes out (CSV or JSON Lines, by its extension) from the summaries ins, taken in the
// order given: the CSV header once, then the rows of each input in turn. Every input must
// be a complete summary of the same format: a CSV file starts with the summary header,
// every row has its columns and the file ends with a line end; a JSON Lines file holds one
// object per line. An input that is missing, unreadable or malformed is reported on err
// and left out whole (its rows could be partial); the others are still merged. out is
// written under a temporary name and renamed when complete.
// Returns 0 when every input was merged, 1 when one or more were left out (out holds the
// others), 2 for a usage error (no input, out of an unknown format or among the inputs),
// 4 when out could not be written.
int merge_summaries(const std::string& out, const std::vector<std::string>& ins, std::ostream& err);

// Checks that text is a complete summary of the format (CSV or JSON Lines); on success
// sets rows to the text of its rows (the header left out) and n to their number, else
// returns false with the reason in why. A CSV summary of a refined run has the column mode
// last; with_mode (when given) says whether it has.
bool summary_rows(const std::string& text, bool jsonl, std::string& rows, long& n, std::string& why,
                  bool* with_mode = nullptr);

}  // namespace zelk::driver
