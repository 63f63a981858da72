// The one failure of every reader: an input that cannot be read, or that
// does not hold what OpenFOAM would accept. what() is the whole reason in
// one line, naming the file and, where there is one, the line:
// "constant/polyMesh/faces: line 12: face 4 names point 3509 of 3509".
#pragma once

#include <stdexcept>
#include <string>

namespace foam {

struct Bad : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace foam
