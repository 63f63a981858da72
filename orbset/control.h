// What orbset takes from system/controlDict: where the start time's fields
// are (startFrom, startTime, and the time format that names the
// directory), the precision of ascii values (writePrecision) and whether
// setFields would write the fields in binary (writeFormat).
#pragma once

#include <string>
#include <vector>

#include "foam/dictionary.h"
#include "foam/text.h"

namespace orbset {

struct Control {
    std::string start_from = "latestTime";  // OpenFOAM's default
    double start_time = 0;
    std::string time_format = "general";
    int time_precision = 6;
    int write_precision = 6;
    bool write_binary = false;  // writeFormat binary: setFields keeps every digit
    std::vector<std::string> libs;  // the libraries setFields loads, "libX.so"
    // the earliest time directory instead, whatever startFrom says (the
    // Foundation's setFields from 11 on: timeSelector::select0)
    bool earliest_time = false;
};

// Reads controlDict, its includes found through inc; throws foam::Bad.
Control read_control(const foam::Text &dict, const foam::Includes &inc);

// The geometry scheme that system/fvSchemes chooses (its geometry
// dictionary's method, else its type), "basic" where it chooses none: in
// ESI's v2012 and later it computes the cell centres setFields tests.
// Throws foam::Bad.
std::string geometry_scheme(const foam::Text &fv_schemes, const foam::Includes &inc);

// The name of the start time's directory in case_dir ("" for the current
// one), as OpenFOAM's Time finds it: "0" usually; with earliest_time, the
// earliest time directory, or "constant" where there is none.
std::string start_time_name(const Control &c, const std::string &case_dir);
// Its time: startTime, or the first or the latest time of the case.
double start_value(const Control &c, const std::string &case_dir);

// The instance that holds the mesh file `file` of case_dir (such as
// "polyMesh/points", "NAME/polyMesh/faces" or "polyMesh/sets/NAME"), as
// OpenFOAM's Time::findInstance finds it: the start time, else the latest
// time before the start that holds it, else constant. A mesh that moves
// keeps its points in the times.
std::string mesh_instance(const Control &c, const std::string &case_dir, const std::string &file);

}  // namespace orbset
