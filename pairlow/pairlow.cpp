// pairlow: depth/depth.txt to depth/depth2.txt, one line for every two
// records: the smallest first-column value not above 1000 and the
// second-column value that came with it.
#include "diag.h"
#include "reduce.h"

int main()
{
    textio::progname = "pairlow";
    return pairlow::reduce();
}
