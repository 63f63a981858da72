// The one failure of every reader: an input that cannot be read, or that
// does not hold what OpenFOAM would accept. what() is the whole reason in
// one line, naming the file and, where there is one, the line:
// "constant/polyMesh/faces: line 12: face 4 names point 3509 of 3509".
#pragma once

#include <stdexcept>
#include <string>

namespace foam {

// The reason with every control character in it (a newline quoted from
// the input, say) shown as '?', so that it stays one line.
inline std::string one_line(std::string why)
{
    for (char &ch : why)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            ch = '?';
    return why;
}

struct Bad : std::runtime_error {
    explicit Bad(const std::string &why) : std::runtime_error(one_line(why)) {}
};

}  // namespace foam
