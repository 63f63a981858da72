// headcut: dump0.txt to dump.txt without its 18 header lines; prints the
// number of lines it counted.
#include "diag.h"
#include "trim.h"

int main()
{
    textio::progname = "headcut";
    return headcut::trim();
}
