// orbfill: dump.txt to system/setFieldsDict for the field alpha.phase1.
#include "convert.h"
#include "diag.h"

int main()
{
    textio::progname = "orbfill";
    return regiondict::convert(regiondict::kAlphaPhase1);
}
