// Fixed-column fields of the model data files and of the model listings.
//
// The data files are line-oriented text under fixed edit descriptors: a field is read from
// its columns alone, blanks inside a field are ignored, an all-blank field reads as zero,
// and a real written without a decimal point carries D implied decimals. The listings
// write reals right-aligned in a field of W columns with D decimals, and asterisks when
// the value does not fit.
#pragma once

#include <string>
#include <string_view>

namespace zelk::models {

// True when columns COL..COL+WIDTH-1 (1-based) of LINE are all blank (or past its end).
bool FIELDBLANK(std::string_view line, int col, int width);

// Integer field (Iw) at columns COL..COL+WIDTH-1. Returns false when the field holds
// anything but an optional sign and digits; V is then left unchanged.
bool FIELDINT(std::string_view line, int col, int width, int& v);

// Real field (Fw.d or Ew.d) at columns COL..COL+WIDTH-1 with D implied decimals. Accepts
// an exponent written with E or D. Returns false when the field is not a number.
bool FIELDREAL(std::string_view line, int col, int width, int d, float& v);

// V in a field of W columns with D decimals (Fw.d); W asterisks when it does not fit.
std::string FMTF(float v, int w, int d);

// V in a field of W columns (Iw); W asterisks when it does not fit.
std::string FMTI(int v, int w);

}  // namespace zelk::models
